// The windows as a user sees them: the real xcb platform under Xvfb, checked by what the
// screen shows (a grab of the screen, not of the widget, which would paint a window that is
// not on screen). Run by ctest under xvfb-run.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "E2EFixture.h"
#include "loader/SrecText.h"
#include "support/Ggarecording.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mdbform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scatterplot.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"

namespace {

QImage ScreenAt(const QRect& rect) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage();
}

// The share of the window's client area that the screen shows as the window paints it.
double ShareOnScreen(QWidget* window) {
    const QImage painted = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shown = ScreenAt(QRect(window->mapToGlobal(QPoint(0, 0)), window->size()))
                             .convertToFormat(QImage::Format_RGB32);
    if (painted.size() != shown.size() || painted.isNull()) {
        return 0;
    }
    int64_t same = 0;
    for (int y = 0; y < painted.height(); ++y) {
        for (int x = 0; x < painted.width(); ++x) {
            same += painted.pixel(x, y) == shown.pixel(x, y) ? 1 : 0;
        }
    }
    return static_cast<double>(same) / (static_cast<double>(painted.width()) * painted.height());
}

// How many pixels of the label's place on screen are in the colour of its text.
int TextPixelsOnScreen(const QLabel* label, QRgb colour) {
    const QImage shown = ScreenAt(QRect(label->mapToGlobal(QPoint(0, 0)), label->size()));
    int count = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            count += (shown.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) ? 1 : 0;
        }
    }
    return count;
}

bool IsOnScreen(QWidget* window) {
    return window->isVisible() && ShareOnScreen(window) > 0.9;
}

class ScreenTest : public E2ETest {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the xcb platform (ctest runs this under xvfb-run)";
        }
    }
};

TEST_F(ScreenTest, EveryMenuWindowShowsOverTheMainWindow) {
    StartSim({});
    FormMain->show();
    FormPort->ButtonApplyClick();
    FormAbout->hide();  // the splash would cover the windows under test
    RunFor(300);
    ASSERT_TRUE(IsOnScreen(FormMain)) << ShareOnScreen(FormMain);
    const std::vector<std::pair<const char*, QWidget*>> cases = {
        {"MenuPortConfigure", FormPort}, {"MenuRcvrPort", FormRcvrPort}, {"MenuMDB", FormMDB},
        {"MenuTCM", FormTCMCalibStatus}, {"MenuLoad", FormLoadSetup},    {"MenuHelpContents", FormHelp},
        {"MenuHelpAbout", FormAbout},    {"MenuStatus", FormStatus},     {"MenuAccuracy", FormAccuracy},
    };
    for (const auto& [action, window] : cases) {
        FormMain->Action(action)->trigger();
        RunFor(400);
        EXPECT_TRUE(IsOnScreen(window)) << action << ": " << ShareOnScreen(window);
        window->hide();
    }
}

// The accuracy window's scatter as the screen shows it: the fixes' dots inside the plot.
TEST_F(ScreenTest, TheAccuracyScatterShowsTheFixesOnScreen) {
    StartSim({});
    FormMain->show();
    FormAbout->hide();
    for (const std::string& line : testsupport::StandingReceiverLines(200)) {
        FormAccuracy->TakeLine(reinterpret_cast<const uint8_t*>(line.data()),
                               static_cast<uint16_t>(line.size()));
    }
    FormMain->Action("MenuAccuracy")->trigger();
    RunFor(400);
    ASSERT_TRUE(IsOnScreen(FormAccuracy)) << ShareOnScreen(FormAccuracy);
    const QWidget* plot = FormAccuracy->Plot().Widget();
    const QImage shown = ScreenAt(QRect(plot->mapToGlobal(QPoint(0, 0)), plot->size()));
    int dots = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            dots += (shown.pixel(x, y) & 0xFFFFFF) == (ScatterPlot::PointColor().rgb() & 0xFFFFFF) ? 1 : 0;
        }
    }
    EXPECT_GT(dots, 200) << "the fixes' dots are not on the screen";
    EXPECT_EQ(FormAccuracy->Plot().BeyondEdge(), 0u);
}

// From the keyboard alone: Alt+P opens the Port menu, Enter its first item, the port dialog
// comes up on the screen with the focus on the device, and Enter opens the port.
TEST_F(ScreenTest, ThePortIsOpenedFromTheKeyboardAlone) {
    StartSim({});
    FormMain->show();
    FormAbout->hide();
    FormMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormMain));
    QTest::keyClick(FormMain, Qt::Key_P, Qt::AltModifier);
    ASSERT_TRUE(testsupport::WaitUntil([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::WaitUntil([] { return FormPort->isVisible(); }, 2000));
    FormPort->activateWindow();  // as a window manager gives a new window the keyboard
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormPort));
    RunFor(300);
    EXPECT_TRUE(IsOnScreen(FormPort)) << ShareOnScreen(FormPort);
    EXPECT_EQ(QApplication::focusWidget(), FormPort->ComboBoxDeviceName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(testsupport::WaitUntil([] { return !FormPort->isVisible(); }, 2000));
    EXPECT_TRUE(Link().line.IsOpen());
}

TEST_F(ScreenTest, TheLoadingWindowStaysThroughAWholeLoadWithItsPanelsAndFinalStatus) {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;
    StartSim(options);
    FormMain->show();
    FormAbout->hide();
    FormPort->ButtonApplyClick();
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-screen-load-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image, std::ios::binary)
        << MakeSrecImage({{0x00020000, std::vector<uint8_t>(2000, 0x5A)}}, "\r\n");

    FormMain->Action("MenuLoad")->trigger();
    ASSERT_TRUE(
        testsupport::WaitUntil([] { return FormLoadSetup->LabelVersion()->text() == "1.0SIM"; }, 5000));
    FormLoadSetup->SetFileName(QString::fromStdString(image));
    FormLoadSetup->ButtonLoadClick();
    EXPECT_TRUE(FormLoadSetup->isVisible());
    EXPECT_TRUE(FormLoadSetup->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    int progressSeen = 0;
    int progressOnScreen = 0;
    int redPanelPixels = 0;
    int bluePanelPixels = 0;
    QObject::connect(FormLoadSetup, &TFormLoadSetup::progressShown, [&](int, int) {
        ++progressSeen;
        progressOnScreen += FormLoadSetup->isVisible() ? 1 : 0;
        redPanelPixels =
            std::max(redPanelPixels, TextPixelsOnScreen(FormLoadSetup->PanelLine(1), qRgb(255, 0, 0)));
    });
    QObject::connect(FormLoadSetup, &TFormLoadSetup::panelShown, [&] {
        if (FormLoadSetup->PanelLine(1)->text() == "Cycle Power on the Receiver Now!") {
            bluePanelPixels = TextPixelsOnScreen(FormLoadSetup->PanelLine(1), qRgb(0, 0, 255));
            sim->PowerCycle();
        }
    });
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 90000));
    RunFor(300);

    EXPECT_GT(progressSeen, 0);
    EXPECT_EQ(progressOnScreen, progressSeen);
    EXPECT_GT(redPanelPixels, 20) << "the red \"Do Not Close Program\" panel was not on screen";
    EXPECT_GT(bluePanelPixels, 20) << "the blue power-cycle request was not on screen";
    EXPECT_EQ(FormLoadSetup->Memo()->toPlainText(), "Communication Re-established. Ver # Rcvd.");
    EXPECT_TRUE(IsOnScreen(FormLoadSetup)) << ShareOnScreen(FormLoadSetup);
    EXPECT_FALSE(FormLoadSetup->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    std::filesystem::remove(image);
}

}  // namespace
