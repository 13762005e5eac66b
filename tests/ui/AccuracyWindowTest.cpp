// The accuracy window and File > Export Track... fed the way a user feeds them: a recording
// replayed through the main window's receive path. The figures shown are the statistics' to
// the printed precision, whatever the filter and the centre; an absurd fix is marked at the
// plot's edge without stretching it; the exported track reads back in gpsbabel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "FormsFixture.h"
#include "support/Ggarecording.h"
#include "support/QtHelpers.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Scatterplot.h"

namespace {

constexpr double kLatitude = 48.1173;
constexpr double kLongitude = 11.5167;
constexpr double kHeight = 566.0;
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

// A fix `eastM` and `northM` from the centre.
std::string FixAt(double eastM, double northM, int quality, int second) {
    return testsupport::GgaSentence(
        kLatitude + northM / 111'200.0,
        kLongitude + eastM / (111'320.0 * std::cos(kLatitude * kRadiansPerDegree)), kHeight + northM / 10,
        quality, second);
}

// Twelve fixes a few metres apart, autonomous and differential by turns.
std::vector<std::string> StationaryFixes() {
    const double offsets[][2] = {{0.4, -1.2},  {-2.1, 0.3},  {1.7, 2.2},  {0.0, 0.9},
                                 {-0.8, -0.6}, {3.1, -0.2},  {-1.5, 1.8}, {0.6, -2.5},
                                 {2.4, 1.1},   {-3.0, -1.4}, {1.2, 0.1},  {-0.3, 2.9}};
    std::vector<std::string> lines;
    for (size_t i = 0; i < std::size(offsets); ++i) {
        lines.push_back(FixAt(offsets[i][0], offsets[i][1], i % 2 == 0 ? 2 : 1, static_cast<int>(i)));
    }
    return lines;
}

class AccuracyWindow : public FormsTest {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir);
        CreateWithDevices({});
        FormMain->Timer()->stop();  // ticks are driven by the test
        FormAbout->hide();
    }
    void TearDown() override {
        FormsTest::TearDown();
        std::filesystem::remove_all(dir);
    }
    // Replays a recording of the lines through the main window at full speed, to its end.
    void Replay(const std::string& name, const std::vector<std::string>& lines) {
        const std::string path = File(name);
        testsupport::WriteLineRecording(path, lines);
        FormMain->Action("MenuReplayFastest")->trigger();
        ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(path), 0));
        for (int i = 0; i < 2000 && FormMain->Replaying(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            FormMain->TimerTimer();
        }
        ASSERT_FALSE(FormMain->Replaying());
        FormAccuracy->TimerTimer();
    }
    static QString Shown(const char* label) { return FormAccuracy->ValueLabel(label)->text(); }
    std::string File(const std::string& name) const { return dir + "/" + name; }

    std::string dir = std::filesystem::temp_directory_path() / ("lct-acc-ui-" + std::to_string(::getpid()));
};

QString Metres(double value) {
    return QString::number(value, 'f', 3) + QStringLiteral(" m");
}

TEST_F(AccuracyWindow, ShowsTheFiguresOfTheFixesForEachFilterAndCentreUntilReset) {
    const std::vector<std::string> lines = StationaryFixes();
    Replay("still.rec", lines);
    FormAccuracy->ShowBeside(FormMain);
    struct Case {
        const char* legend;
        int filter;             // the combo box's row: all, differential
        bool useMean;           // "Use mean as reference"
        const char* reference;  // typed, then Apply
        const char* error;      // a part of the message a bad entry gets; null: none shown
        std::optional<Geodetic> centre;
    };
    const Geodetic reference{kLatitude, kLongitude, kHeight};
    const std::vector<Case> cases = {
        {"every fix about the mean", 0, true, "", nullptr, std::nullopt},
        {"the differential fixes", 1, true, "", nullptr, std::nullopt},
        {"about a typed reference", 0, false, "48.1173, 11.5167, 566", nullptr, reference},
        {"a bad entry keeps the reference", 0, false, "48.1173 11.5167", "three numbers", reference},
        {"out of range", 1, false, "91,11.5,566", "latitude is out of range", reference},
        {"back to the mean", 0, true, "", nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        FormAccuracy->ComboBoxFilter()->setCurrentIndex(c.filter);
        FormAccuracy->CheckBoxMean()->setChecked(c.useMean);
        if (!c.useMean) {
            FormAccuracy->EditReference()->setText(QString::fromLatin1(c.reference));
            FormAccuracy->ButtonApplyClick();
        }
        const QLabel* error = FormAccuracy->ValueLabel("LabelReferenceError");
        EXPECT_EQ(error->isVisible(), c.error != nullptr) << error->text().toStdString();
        if (c.error != nullptr) {
            EXPECT_TRUE(error->text().simplified().contains(QLatin1String(c.error)))
                << error->text().toStdString();
        }

        PositionStats expected;
        expected.SetFilter(c.filter == 1 ? FixFilter::kDifferential : FixFilter::kAll);
        expected.SetReference(c.centre);
        for (const std::string& line : lines) {
            expected.TakeLine(line);
        }
        const AccuracyFigures f = expected.Figures().value();
        EXPECT_EQ(Shown("LabelFixes"),
                  c.filter == 1 ? QStringLiteral("6 differential (of 12)") : QStringLiteral("12"));
        EXPECT_EQ(Shown("LabelMeanLatitude"), QString::number(f.mean.latitudeDeg, 'f', 9) + QChar(0xB0));
        EXPECT_EQ(Shown("LabelMeanLongitude"), QString::number(f.mean.longitudeDeg, 'f', 9) + QChar(0xB0));
        EXPECT_EQ(Shown("LabelMeanHeight"), Metres(f.mean.heightM));
        EXPECT_EQ(Shown("LabelCentre"), c.centre ? "the reference" : "the mean");
        EXPECT_EQ(Shown("LabelSigmaEast"), Metres(f.sigmaEastM));
        EXPECT_EQ(Shown("LabelSigmaNorth"), Metres(f.sigmaNorthM));
        EXPECT_EQ(Shown("LabelSigmaUp"), Metres(f.sigmaUpM));
        EXPECT_EQ(Shown("LabelCep50"), Metres(f.cep50M));
        EXPECT_EQ(Shown("LabelCep95"), Metres(f.cep95M));
        EXPECT_EQ(Shown("LabelTwiceDrms"), Metres(f.twiceDrmsM));
        // The fixes lie within 3.1 m of the reference: all of them and the CEP95 circle show.
        const double halfRange = FormAccuracy->Plot().Scale().halfRangeM;
        EXPECT_EQ(FormAccuracy->Plot().BeyondEdge(), 0u);
        EXPECT_GE(halfRange, f.cep95M);
        EXPECT_LE(halfRange, 5.0);
    }

    FormAccuracy->ButtonResetClick();
    EXPECT_EQ(Shown("LabelFixes"), "0");
    EXPECT_EQ(Shown("LabelCep95"), QStringLiteral("\u2013"));
    EXPECT_EQ(FormAccuracy->Stats().AllFixCount(), 0u);
}

// A fix at 0 N 0 E among fixes in Bavaria, some 5,000 km away: about the reference it is
// marked at the edge of a plot a few metres across, and the paint draws a bounded grid.
TEST_F(AccuracyWindow, AnAbsurdFixIsMarkedAtTheEdgeAndStretchesNothing) {
    std::vector<std::string> lines = StationaryFixes();
    lines.push_back(testsupport::GgaSentence(0.0, 0.0, kHeight, 1, 99));
    Replay("absurd.rec", lines);
    FormAccuracy->ShowBeside(FormMain);
    FormAccuracy->CheckBoxMean()->setChecked(false);
    FormAccuracy->EditReference()->setText(QStringLiteral("48.1173,11.5167,566"));
    FormAccuracy->ButtonApplyClick();

    const ScatterPlot& plot = FormAccuracy->Plot();
    EXPECT_LE(plot.Scale().halfRangeM, 5.0);
    EXPECT_EQ(plot.BeyondEdge(), 1u);
    EXPECT_TRUE(Shown("LabelNote").simplified().startsWith("Fixes beyond the plot's edge: 1,"))
        << Shown("LabelNote").toStdString();
    plot.Widget()->grab();  // paints
    EXPECT_EQ(plot.LastPaint().inside, 12u);
    EXPECT_EQ(plot.LastPaint().atEdge, 1u);
    EXPECT_LE(plot.LastPaint().gridLines, 26);

    // About the mean, which the absurd fix drags 400 km away, the plot is still bounded.
    FormAccuracy->CheckBoxMean()->setChecked(true);
    plot.Widget()->grab();
    EXPECT_LE(plot.Scale().halfRangeM, 2.0e7);
    EXPECT_LE(plot.LastPaint().gridLines, 26);
    EXPECT_EQ(plot.LastPaint().inside + plot.LastPaint().atEdge, 13u);
}

TEST_F(AccuracyWindow, ExportTrackWritesTheRecordingInHandForGpsbabel) {
    if (std::string(GPSBABEL_PATH).empty()) {
        GTEST_SKIP() << "gpsbabel is not installed (scripts/install-deps installs it)";
    }
    const std::string recording = File("still.rec");
    testsupport::WriteLineRecording(recording, StationaryFixes());
    struct Case {
        const char* legend;
        bool replayFirst;  // else none is in hand: the window asks for the recording
        const char* out;
        const char* reader;  // gpsbabel's format; null: the file must not be written
        const char* note;    // a part of the note shown
    };
    const std::vector<Case> cases = {
        {"no recording in hand", false, "asked.gpx", "gpx", "12 fixes written to"},
        {"the replay's, as GPX", true, "track.gpx", "gpx", "12 fixes written to"},
        {"as KML", true, "track.KML", "kml", "12 fixes written to"},
        {"as CSV", true, "track.csv", "unicsv", "12 fixes written to"},
        {"into a folder that does not exist", true, "missing/track.gpx", nullptr, "Error writing track file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        int asked = 0;
        FormMain->chooseTrackSource = [&] {
            ++asked;
            return QString::fromStdString(recording);
        };
        if (c.replayFirst && FormMain->TrackSource().isEmpty()) {
            Replay("still.rec", StationaryFixes());
        }
        const std::string out = File(c.out);
        FormMain->chooseTrackFile = [&](const QString& source) {
            EXPECT_EQ(source.toStdString(), recording);
            return QString::fromStdString(out);
        };
        QString note;
        {
            const testsupport::ModalAcceptor acceptor(
                [&](QDialog* d) { note = static_cast<TFormNote*>(d)->Label()->text(); });
            FormMain->MenuFileExportTrackClick();
            EXPECT_TRUE(testsupport::WaitUntil([&] { return !note.isEmpty(); }, 10000));
        }
        EXPECT_TRUE(note.contains(QLatin1String(c.note))) << note.toStdString();
        EXPECT_EQ(asked, c.replayFirst ? 0 : 1);
        EXPECT_FALSE(std::filesystem::exists(out + ".part"));
        if (c.reader == nullptr) {
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        const std::string command = std::string(GPSBABEL_PATH) +
                                    (std::string(c.reader) == "unicsv" ? "" : " -t") + " -i " + c.reader +
                                    " -f '" + out + "' -o unicsv -F - 2>&1";
        std::string read;
        if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                read.append(buffer, n);
            }
            ::pclose(pipe);
        }
        EXPECT_EQ(std::count(read.begin(), read.end(), '\n'), 13) << read;  // a header and 12 points
        EXPECT_NE(read.find("48.11"), std::string::npos) << read;
    }
}

}  // namespace
