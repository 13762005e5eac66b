// Takes the README's and docs/'s pictures from a real run of the program against the
// simulated receiver: every window as a user sees it, filled with what the receiver sent.
// Usage: lct_screenshots OUTPUT_DIR   (run under Xvfb with a window manager by scripts/screenshots)
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <cstdio>
#include <functional>

#include "app/Forms.h"
#include "base/Clock.h"
#include "link/Port.h"
#include "loader/SrecText.h"
#include "sim/Simreceiver.h"
#include "support/Ggarecording.h"
#include "support/QtHelpers.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Portform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Waitform.h"

namespace {

QString outputDir;

void RunFor(int ms) {
    testsupport::WaitUntil([] { return false; }, ms);
}

// Saves what the screen shows where the window is, frame and title bar included: the
// picture a user sees (a grab of the widget would paint a window that is not on screen).
// Takes it at once, without running the event loop.
void SaveNow(QWidget* window, const char* name) {
    const QString path = outputDir + "/" + name;
    if (!window->isVisible()) {
        std::fprintf(stderr, "screenshots: the window for %s is not on screen\n", name);
        std::exit(1);
    }
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("%s\n", qPrintable(path));
}

void Save(QWidget* window, const char* name) {
    RunFor(200);  // let it paint
    // The window manager frames a window shortly after it maps; wait for the frame to be known.
    testsupport::WaitUntil([window] { return window->frameGeometry() != window->geometry(); }, 2000);
    SaveNow(window, name);
}

// A software load as a user runs it: the receiver set to 19200 first, the file chosen, Load,
// the power cycled when the window asks for it. Pictures before, while sending, at the power cycle and at the
// end.
void LoadSoftware(SimReceiver& sim) {
    FormRcvrPort->ShowOver(BoundsOf(FormMain));
    testsupport::WaitUntil([] { return !FormRcvrPort->RefreshPending; }, 5000);
    FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(2);
    FormRcvrPort->ButtonOKClick();

    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> image = {
        {0x00040000, std::vector<uint8_t>(48 * 1024)}};
    for (size_t i = 0; i < image[0].second.size(); ++i) {
        image[0].second[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    const QString path = QDir::temp().filePath("lctrovi-demo-300lc.hex");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray::fromStdString(MakeSrecImage(image, "\r\n")));
    file.close();

    FormMain->Action("MenuLoad")->trigger();
    testsupport::WaitUntil([] { return FormLoadSetup->LabelVersion()->text() != "Not Known"; }, 5000);
    FormLoadSetup->chooseFile = [path] { return path; };
    FormLoadSetup->ButtonSoftwareFileClick();
    Save(FormLoadSetup, "load-ready.png");
    // Pictures at the moments the sequence shows progress and the power-cycle request.
    bool sendingSaved = false;
    QObject::connect(FormLoadSetup, &TFormLoadSetup::progressShown, [&](int handled, int total) {
        if (!sendingSaved && handled > total / 2) {
            sendingSaved = true;
            SaveNow(FormLoadSetup, "load-sending.png");
        }
    });
    QObject::connect(FormLoadSetup, &TFormLoadSetup::panelShown, [&sim] {
        if (FormLoadSetup->PanelLine(1)->text() == "Cycle Power on the Receiver Now!") {
            SaveNow(FormLoadSetup, "load-cycle-power.png");
            sim.PowerCycle();
        }
    });
    FormLoadSetup->ButtonLoadClick();
    testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 240000);
    testsupport::WaitUntil([] { return FormLoadSetup->LabelVersion()->text() == "1.1SIM"; }, 5000);
    Save(FormLoadSetup, "load-done.png");
    FormLoadSetup->ButtonDoneClick();
    QFile::remove(path);
}

// The display paused, with the Edit menu open over it.
void ConsolePaused() {
    FormMain->MenuEditPauseClick();
    RunFor(1500);  // the receiver goes on sending; the display stays still
    auto* edit = FormMain->findChild<QMenu*>("MenuEdit");
    FormMain->menuBar()->setActiveAction(edit->menuAction());
    RunFor(300);
    SaveNow(FormMain, "console-paused.png");
    edit->hide();
    FormMain->MenuEditPauseClick();
}

// A session recorded from the receiver for eight seconds, then replayed with the port closed
// at its recorded pace, pictured halfway with the status window beside it.
void RecordAndReplay() {
    const QString path = QDir::temp().filePath("lctrovi-demo-session.rec");
    FormMain->chooseRecordingFile = [path] { return path; };
    FormMain->Action("MenuFileRecord")->trigger();
    RunFor(8000);
    FormMain->Action("MenuFileRecord")->trigger();
    FormMain->MenuPortCloseClick();
    FormMain->MenuEditClearClick();
    FormMain->chooseReplayFile = [path] { return path; };
    FormMain->Action("MenuReplayRecordedPace")->trigger();
    FormMain->Action("MenuFileOpenRecording")->trigger();
    RunFor(4500);
    SaveNow(FormMain, "replay.png");
    FormMain->Action("MenuReplayStop")->trigger();
    QFile::remove(path);
}

// Twenty minutes of a receiver standing still, replayed from a recording as fast as possible,
// in the accuracy window beside the main window.
void Accuracy() {
    const QString path = QDir::temp().filePath("lctrovi-demo-standing.rec");
    testsupport::WriteLineRecording(path.toStdString(), testsupport::StandingReceiverLines(1200));
    FormMain->MenuEditClearClick();
    FormMain->chooseReplayFile = [path] { return path; };
    FormMain->Action("MenuReplayFastest")->trigger();
    FormMain->Action("MenuFileOpenRecording")->trigger();
    testsupport::WaitUntil([] { return !FormMain->Replaying(); }, 20000);
    FormMain->Action("MenuAccuracy")->trigger();
    FormAccuracy->TimerTimer();
    Save(FormAccuracy, "accuracy.png");
    FormAccuracy->hide();
    QFile::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lct_screenshots OUTPUT_DIR\n");
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);

    SimOptions options;
    options.settings.baudRate = 9600;
    options.settings.nmeaMask = 0x3F;
    options.timing.calibrationMs = 500;
    options.timing.powerCycleAfterMs = 0;  // the user cycles the power when the window says so
    SimReceiver sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "screenshots: simulator: %s\n", sim.LastError().c_str());
        return 1;
    }
    CommandLineDevices() = {sim.DevicePath()};
    CreateForms();
    FormMain->show();
    Save(FormAbout, "about-splash.png");
    FormAbout->hide();

    // The port dialog as the keyboard finds it: Alt+P, Enter on Configure..., then Tab to the
    // baud rate's toggles, whose focus shows as a dotted frame.
    FormMain->activateWindow();
    if (!QTest::qWaitForWindowActive(FormMain)) {
        std::fprintf(stderr, "screenshots: the main window did not become active\n");
    }
    QTest::keyClick(FormMain, Qt::Key_P, Qt::AltModifier);
    RunFor(300);
    if (QWidget* menu = QApplication::activePopupWidget()) {
        QTest::keyClick(menu, Qt::Key_Return);
    }
    testsupport::WaitUntil([] { return FormPort->isActiveWindow(); }, 2000);
    QTest::keyClick(FormPort->focusWidget(), Qt::Key_Tab);
    Save(FormPort, "port-dialog-keys.png");

    FormMain->Action("MenuPortConfigure")->trigger();
    FormPort->Button("ButtonDeviceNameAuto")->click();
    FormPort->Button("ButtonBaudRateAuto")->click();
    FormPort->ButtonDeviceNameClick();
    FormPort->ButtonBaudRateClick();
    Save(FormPort, "port-dialog.png");
    FormPort->ButtonOKClick();
    RunFor(300);
    Save(FormWait, "port-search.png");
    testsupport::WaitUntil([] { return !FormPort->Searching(); }, 20000);
    RunFor(6000);
    Save(FormMain, "main-window.png");
    ConsolePaused();

    FormMain->Action("MenuRcvrPort")->trigger();
    testsupport::WaitUntil([] { return !FormRcvrPort->RefreshPending; }, 5000);
    // Two sentences switched off by hand (not applied), so that both looks of a toggle show.
    FormRcvrPort->Button("ButtonZDA")->click();
    FormRcvrPort->Button("ButtonVTG")->click();
    Save(FormRcvrPort, "receiver-setup.png");
    // Alt+W: the WAAS row's pressed toggle takes the focus, and is not pressed by the key.
    QTest::keyClick(FormRcvrPort->focusWidget(), Qt::Key_W, Qt::AltModifier);
    Save(FormRcvrPort, "receiver-setup-keys.png");
    FormRcvrPort->hide();

    FormMain->Action("MenuMDB")->trigger();
    testsupport::WaitUntil([] { return FormMDB->received.has_value(); }, 5000);
    Save(FormMDB, "hardware-information.png");
    FormMDB->hide();

    FormMain->Action("MenuTCM")->trigger();
    Save(FormTCMCalibStatus, "calibration-start.png");
    FormTCMCalibStatus->Button1Click();
    testsupport::WaitUntil(
        [] { return FormTCMCalibStatus->Wizard().Step() == CalibrationStep::SecondPosition; }, 10000);
    testsupport::WaitUntil([] { return FormTCMCalibStatus->Button1()->isEnabled(); }, 5000);
    FormTCMCalibStatus->Button1Click();
    testsupport::WaitUntil([] { return FormTCMCalibStatus->Wizard().Step() == CalibrationStep::Finished; },
                           10000);
    Save(FormTCMCalibStatus, "calibration-result.png");
    FormTCMCalibStatus->hide();

    FormMain->Action("MenuHelpContents")->trigger();
    Save(FormHelp, "help-contents.png");
    FormHelp->LabelConnectionClick();
    Save(FormHelp, "help-connection.png");
    FormHelp->ButtonBackClick();
    FormHelp->LabelNMEAGGAClick();
    Save(FormHelp, "help-nmea-gga.png");
    FormHelp->ButtonBackClick();
    FormHelp->LabelNMEASNRClick();
    Save(FormHelp, "help-nmea-snr.png");
    FormHelp->ButtonCloseClick();

    // The status window beside the main window, once its plot holds a minute and a half.
    FormMain->Action("MenuStatus")->trigger();
    testsupport::WaitUntil(
        [] {
            const ReceiverStatus& status = FormStatus->Status();
            return status.HistorySize() > 0 && CurrentClock().MonotonicMs() - status.HistoryAt(0).ms >= 90000;
        },
        120000);
    FormStatus->TimerTimer();
    Save(FormStatus, "receiver-status.png");
    FormStatus->hide();

    LoadSoftware(sim);
    RecordAndReplay();
    Accuracy();

    Link().line.Close();
    DestroyForms();
    sim.Stop();
    return 0;
}
