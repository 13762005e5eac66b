// Absurd values from the receiver, sentence by sentence, through the main window into the
// status window, the display and the log: every paint stays small (the plot's axis keeps
// within its span, its grid lines few), and every value shown is what was received or says
// why it is not taken.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FormsFixture.h"
#include "proto/Crlfproto.h"
#include "ui/Mainform.h"
#include "ui/Signalplot.h"
#include "ui/Statusform.h"

namespace {

// "$" + body + "*hh" + CR LF.
std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

// Hands one received line to the main window as its receive loop does.
void Feed(const std::string& line) {
    CRLFProto crlf;
    for (const char c : line) {
        if (crlf.ProcessByte(static_cast<uint8_t>(c))) {
            FormMain->HandleSentence(crlf);
        }
    }
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Row {
    const char* legend;
    const char* body;
    std::vector<std::pair<const char*, const char*>> shown;  // label, text it holds
};

const Row kRows[] = {
    {"GGA, every field 10^15 or a negative count",
     "GPGGA,999999999999999,999999999999999,N,-999999999999999,E,999999999999999,-5,999999999999999,"
     "-999999999999999,M,,M,,",
     {{"LabelUtc", "\u201C999999999999999\u201D (out of range)"},
      {"LabelLatitude", "\u201C999999999999999\u201D (out of range)"},
      {"LabelLongitude", "\u201C-999999999999999\u201D (out of range)"},
      {"LabelFixQuality", "\u201C999999999999999\u201D (out of range)"},
      {"LabelSatellites", "\u201C-5\u201D (out of range)"},
      {"LabelDop", "/ 999999999999999.0 /"},
      {"LabelAltitude", "-999999999999999.0 m"}}},
    {"GGA, 15-digit fractions",
     "GPGGA,123519.123456789012345,4807.038000000000000,N,01131.000000000000000,E,1,08,0.123456789012345,"
     "545.123456789012345,M,,M,,",
     {{"LabelUtc", "12:35:19.12"},
      {"LabelLatitude", "48\u00B0 07.0380' N"},
      {"LabelSatellites", "8"},
      {"LabelDop", "/ 0.1 /"},
      {"LabelAltitude", "545.1 m"}}},
    {"GGA, text that is no number",
     "GPGGA,nan,inf,N,NaN,E,-inf,1e300,NAN,Infinity,M,,M,,",
     {{"LabelUtc", "\u201Cnan\u201D (not readable)"},
      {"LabelLatitude", "\u201Cinf\u201D (not readable)"},
      {"LabelLongitude", "\u201CNaN\u201D (not readable)"},
      {"LabelFixQuality", "\u201C-inf\u201D (not readable)"},
      {"LabelSatellites", "\u201C1e300\u201D (not readable)"},
      {"LabelDop", "\u201CNAN\u201D (not readable)"},
      {"LabelAltitude", "\u201CInfinity\u201D (not readable)"}}},
    {"GGA, a number longer than is kept",
     "GPGGA,,,,,,,,1234567890123456789012345,,M,,M,,",
     {{"LabelDop", "\u201C12345678901234567890\u2026\u201D (out of range)"}}},
    {"GGA, every field empty",
     "GPGGA,,,,,,,,,,,,,,",
     {{"LabelLatitude", "\u2013"}, {"LabelFixQuality", "\u2013"}, {"LabelAltitude", "\u2013"}}},
    {"GSA, 10^15, negative and unreadable PRNs",
     "GPGSA,X,999999999999999,999999999999999,-5,nan,07,,,,,,,,,999999999999999,-999999999999999,"
     "0.123456789012345,999999999999999",
     {{"LabelFixMode", "\u201C999999999999999\u201D (out of range)"},
      {"LabelPrns", "07 \u201C999999999999999\u201D (out of range) and 2 more"},
      {"LabelDop", "999999999999999.0 / -999999999999999.0 / 0.1"}}},
    {"GSA, every field empty",
     "GPGSA,,,,,,,,,,,,,,,,,",
     {{"LabelFixMode", "\u2013"}, {"LabelPrns", "none"}, {"LabelDop", "\u2013 / \u2013 / \u2013"}}},
    {"VTG, 10^15 and text",
     "GPVTG,999999999999999,T,,M,-999999999999999,N,nan,K,A",
     {{"LabelCourse", "999999999999999.0\u00B0"},
      {"LabelSpeed", "\u201Cnan\u201D (not readable)  (-999999999999999.00 kn)"}}},
    {"RMC, beyond every range",
     "GPRMC,999999,A,9959.999999999999999,S,18000.5,W,999999999999999,-999999999999999,"
     "999999,,,A",
     {{"LabelUtc", "\u201C999999\u201D (out of range)  \u201C999999\u201D (out of range)"},
      {"LabelLatitude", "\u201C9959.999999999999999\u201D (out of range)"},
      {"LabelLongitude", "\u201C18000.5\u201D (out of range)"},
      {"LabelSpeed", " km/h  (999999999999999.00 kn)"},
      {"LabelCourse", "-999999999999999.0\u00B0"}}},
    {"RMC, a hemisphere that is none",
     "GPRMC,123519,A,4807.038,X,01131.000,,022.4,084.4,230394,,,A",
     {{"LabelLatitude", "\u201C4807.038,X\u201D (not readable)"},
      {"LabelLongitude", "\u201C01131.000,\u201D (not readable)"}}},
    {"ZDA, a negative time and a five-digit year",
     "GPZDA,-12345,99,99,99999,-5,nan",
     {{"LabelUtc", "\u201C99,99,99999\u201D (not readable)  \u201C-12345\u201D (out of range)"}}},
    {"ZDA, every field empty", "GPZDA,,,,,,", {{"LabelUtc", "\u2013  \u2013"}}},
    {"SNR, 10^15 either way",
     "PNSNR,999999999999999,999999999999999,-999999999999999,0.123456789012345,-5",
     {{"LabelAccuracy", "\u201C999999999999999\u201D (out of range)"},
      {"LabelCorrection", "999999999999999.0 dB (out of range)"},
      {"LabelL1Snr", "-999999999999999.0 dB (out of range)"},
      {"LabelL2Snr", "0.1 dB"},
      {"LabelBackup", "\u201C-5\u201D (out of range)"}}},
    {"SNR, just past the plot's span",
     "PNSNR,100,100.5,-20.5,100,12",
     {{"LabelAccuracy", "100"},
      {"LabelCorrection", "100.5 dB (out of range)"},
      {"LabelL1Snr", "-20.5 dB (out of range)"},
      {"LabelL2Snr", "100.0 dB"},
      {"LabelBackup", "12"}}},
    {"SNR, text that is no number",
     "PNSNR,nan,inf,-inf,NaN,1e300",
     {{"LabelAccuracy", "\u201Cnan\u201D (not readable)"},
      {"LabelCorrection", "\u201Cinf\u201D (not readable)"},
      {"LabelL2Snr", "\u201CNaN\u201D (not readable)"},
      {"LabelBackup", "\u201C1e300\u201D (not readable)"}}},
    {"SNR, every field empty", "PNSNR,,,,,", {{"LabelCorrection", "\u2013"}, {"LabelBackup", "\u2013"}}},
};

class StatusWindow : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({});
        FormMain->Timer()->stop();  // nothing but the test feeds the main window
    }
    std::string logPath =
        (std::filesystem::temp_directory_path() / ("lct-status-log-" + std::to_string(::getpid()) + ".txt"))
            .string();
};

TEST_F(StatusWindow, AbsurdValuesKeepEveryPaintSmallAndAreShownAsReceived) {
    FormMain->chooseLogFile = [this] { return QString::fromStdString(logPath); };
    FormMain->MenuFileLoggingClick();
    ASSERT_TRUE(FormMain->logging);
    FormStatus->ShowBeside(FormMain);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormStatus));  // painted for real from here on
    auto* plotView = FormStatus->findChild<QWidget*>("PlotSignal");
    const SignalPlot& plot = FormStatus->Plot();
    // A minute line each, and a line every ten dB over the widest span.
    const int mostGridLines = ReceiverStatus::kHistoryMs / 60000 + 1 +
                              static_cast<int>((SignalPlot::kHighestDb - SignalPlot::kLowestDb) / 10) + 1;
    std::string logged;
    for (const Row& row : kRows) {
        const std::string line = Sentence(row.body);
        Feed(line);
        FormStatus->TimerTimer();
        // Checked before painting: an axis stretched to the values would take ages to draw.
        ASSERT_GE(plot.AxisBottom(), SignalPlot::kLowestDb) << row.legend;
        ASSERT_LE(plot.AxisTop(), SignalPlot::kHighestDb) << row.legend;
        plotView->repaint();
        FormStatus->repaint();
        EXPECT_GT(plot.GridLinesPainted(), 0) << row.legend;
        EXPECT_LE(plot.GridLinesPainted(), mostGridLines) << row.legend;
        for (const auto& [label, text] : row.shown) {
            EXPECT_TRUE(FormStatus->ValueLabel(label)->text().contains(QString::fromUtf8(text)))
                << row.legend << ": " << label << " shows \""
                << FormStatus->ValueLabel(label)->text().toStdString() << "\", not \"" << text << "\"";
        }
        const std::string sentence = line.substr(0, line.size() - 2);
        EXPECT_TRUE(FormMain->Memo()->toPlainText().endsWith(QString::fromStdString(": " + sentence)))
            << row.legend << ": the display shows the sentence as received";
        logged += sentence + "\r\n";
    }
    FormMain->MenuFileLoggingClick();
    EXPECT_EQ(FileText(logPath), logged) << "the log holds every sentence as received";
    std::filesystem::remove(logPath);
}

}  // namespace
