// The receiver status window against the simulated receiver: the values it decodes, the
// ages of the sentences turning red when the receiver goes quiet, the signal plot, and the
// sentences of other talkers, which the main window does not show.
#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>

#include "E2EFixture.h"
#include "ui/Signalplot.h"
#include "ui/Statusform.h"

namespace {

int PixelsOfColour(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
        }
    }
    return count;
}

QString Text(const char* label) {
    return FormStatus->ValueLabel(label)->text();
}

bool ShownStale(const char* label) {
    return FormStatus->ValueLabel(label)->palette().color(QPalette::WindowText) == QColor(Qt::red);
}

class StatusE2E : public E2ETest {
  protected:
    void Open(SimOptions options) {
        options.settings.baudRate = 38400;
        StartSim(options);
        FormPort->ComboBoxBaudRate()->setCurrentIndex(3);
        FormPort->ButtonApplyClick();
        ASSERT_TRUE(Link().line.IsOpen());
        FormMain->Action("MenuStatus")->trigger();
        ASSERT_TRUE(FormStatus->isVisible());
    }
};

TEST_F(StatusE2E, ShowsWhatTheReceiverSendsAndMarksSentencesThatStopComing) {
    SimOptions options;
    options.settings.nmeaMask = 0x3F;
    options.settings.nmeaRate = 5;
    Open(options);
    const ReceiverStatus& status = FormStatus->Status();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return status.HistorySize() >= 3; }, 10000));
    FormStatus->TimerTimer();

    EXPECT_EQ(Text("LabelFixQuality"), "2 (differential)");
    EXPECT_EQ(Text("LabelFixMode"), "3D, automatic");
    EXPECT_EQ(Text("LabelSatellites"), "9");
    EXPECT_EQ(Text("LabelPrns"), "02 05 07 09 13 16 20 27 30");
    EXPECT_EQ(Text("LabelDop"), "1.6 / 0.9 / 1.3");
    EXPECT_TRUE(Text("LabelLatitude")
                    .contains(QRegularExpression("^48\u00B0 0[67]\\.\\d{4}' N  \\(48\\.1\\d{5}\u00B0\\)$")))
        << Text("LabelLatitude").toStdString();
    EXPECT_TRUE(Text("LabelLongitude")
                    .contains(QRegularExpression("^011\u00B0 3\\d\\.\\d{4}' E  \\(11\\.5\\d{5}\u00B0\\)$")))
        << Text("LabelLongitude").toStdString();
    EXPECT_TRUE(Text("LabelAltitude").contains(QRegularExpression("^5(19|20|17|18)\\.\\d m$")));
    EXPECT_EQ(Text("LabelSpeed"), "21.6 km/h  (11.66 kn)");  // 6 m/s
    EXPECT_TRUE(Text("LabelCourse").endsWith(QStringLiteral("\u00B0")));
    EXPECT_TRUE(Text("LabelUtc")
                    .contains(QRegularExpression("^20\\d\\d-\\d\\d-\\d\\d  \\d\\d:\\d\\d:\\d\\d\\.\\d\\d$")))
        << Text("LabelUtc").toStdString();
    EXPECT_TRUE(Text("LabelCorrection").contains(QRegularExpression("^1[0-2]\\.\\d dB$")));
    EXPECT_TRUE(Text("LabelL1Snr").contains(QRegularExpression("^4[0-7]\\.\\d dB$")));
    EXPECT_TRUE(Text("LabelL2Snr").contains(QRegularExpression("^(3[4-9]|4[0-2])\\.\\d dB$")));
    EXPECT_EQ(Text("LabelBackup"), "1");
    for (const char* kind : {"GGA", "GSA", "VTG", "RMC", "ZDA", "SNR"}) {
        const std::string count = std::string("LabelCount") + kind;
        EXPECT_GT(Text(count.c_str()).toInt(), 0) << kind;
        EXPECT_FALSE(ShownStale((std::string("LabelAge") + kind).c_str())) << kind;
    }
    EXPECT_EQ(Text("LabelCountOther"), "0");
    EXPECT_EQ(Text("LabelChecksumFailures"), "0");
    EXPECT_GE(FormStatus->Plot().PointCount(0), 3) << "a point a second";
    EXPECT_LE(FormStatus->Plot().LastX(0), 0.0);
    // Each curve is drawn: its colour covers a stretch of the plot's pixels.
    const QImage drawn = FormStatus->findChild<QWidget*>("PlotSignal")->grab().toImage();
    for (int series = 0; series < SignalPlot::kSeries; ++series) {
        EXPECT_GT(PixelsOfColour(drawn, SignalPlot::SeriesColor(series)), 20) << "curve " << series;
    }

    SimFaults quiet = sim->Faults();
    quiet.silent = true;
    sim->SetFaults(quiet);
    EXPECT_TRUE(
        testsupport::WaitUntil([] { return ShownStale("LabelAgeGGA") && ShownStale("LabelAgeSNR"); }, 10000))
        << "the window's own timer shows the ages growing while nothing comes";

    FormStatus->hide();
    EXPECT_FALSE(FormStatus->Timer()->isActive()) << "nothing is redrawn while the window is hidden";
}

TEST_F(StatusE2E, OtherTalkersDecodeThoughTheMainWindowDoesNotShowThem) {
    SimOptions options;
    options.faults.otherTalkersOnly = true;
    Open(options);
    const ReceiverStatus& status = FormStatus->Status();
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return status.Count(NmeaKind::kGSA) >= 2 && status.Count(NmeaKind::kZDA) >= 2; }, 10000));
    FormStatus->TimerTimer();
    EXPECT_EQ(Text("LabelPrns"), "201 203 206");
    EXPECT_EQ(Text("LabelDop"), "1.9 / 1.1 / 1.5");
    EXPECT_FALSE(Text("LabelUtc").startsWith(QStringLiteral("\u2013"))) << "the date from $GNZDA";
    EXPECT_GT(Text("LabelCountOther").toInt(), 0) << "$GLGSV";
    EXPECT_EQ(Text("LabelCountGGA"), "0");
    EXPECT_TRUE(FormMain->Memo()->toPlainText().isEmpty());
    EXPECT_EQ(FormMain->messageCount, 0);
}

}  // namespace
