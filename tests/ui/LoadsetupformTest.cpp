// The software loading dialog over a real pseudo-terminal with the clock in the test's hand:
// the version display, the file choice rules, starting, cancelling and ending a sequence. The
// sequence runs on the window's load thread; the tests run the event loop until it has ended.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "FormsFixture.h"
#include "proto/Bytes.h"
#include "proto/Frame.h"
#include "sim/Simreceiver.h"
#include "support/FakeClock.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Tcmcalibstatusform.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes VersionReply(uint8_t major, uint8_t minor, const char* suffix, uint32_t mask) {
    Bytes p(config::kPayloadSize, 0);
    p[config::kVersionMajor] = major;
    p[config::kVersionMinor] = minor;
    std::copy_n(suffix, std::min<size_t>(3, std::strlen(suffix)), p.begin() + config::kVersionSuffix);
    put_le32(p.data() + config::kNmeaMask, mask);
    Bytes frame(p.size() + 8);
    build_frame(msgid::kConfig, p.data(), static_cast<uint16_t>(p.size()), frame.data());
    return frame;
}

class LoadDialog : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({pty.SlavePath()});
        FormMain->Timer()->stop();
    }
    void OpenAt(int rate) {
        FormPort->ComboBoxBaudRate()->setCurrentText(QString::number(rate));
        FormPort->ComboBoxBaudRate()->setCurrentIndex(
            FormPort->ComboBoxBaudRate()->findText(QString::number(rate)));
        FormPort->ButtonApplyClick();
        ASSERT_TRUE(Link().line.IsOpen());
    }
    void Receive(const Bytes& bytes) {
        pty.SendFromFarEnd(bytes);
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            FormMain->TimerTimer();
        }
    }
    QString Status() { return FormLoadSetup->Memo()->toPlainText(); }
    void Choose(const QString& name) {
        FormLoadSetup->chooseFile = [name] { return name; };
        FormLoadSetup->ButtonSoftwareFileClick();
    }
    // Runs the event loop until the sequence and the restore after it have ended.
    static bool LoadEnds(int timeoutMs = 10000) {
        return testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, timeoutMs);
    }
    std::string ImageFile() {
        std::string path =
            std::filesystem::temp_directory_path() / ("lct-load-" + std::to_string(getpid()) + ".hex");
        std::ofstream(path) << "S3090001000001020304EB\r\nS70500000000FA\r\n";
        return path;
    }

    testsupport::FakeClock clock;
    testsupport::ScopedClock scoped{clock};
    PtyPair pty;
};

TEST_F(LoadDialog, OpeningRequestsTheVersionAndTheReplyShowsIt) {
    OpenAt(19200);
    FormMain->Action("MenuLoad")->trigger();
    EXPECT_EQ(FormLoadSetup->windowTitle(), "Load Software");
    EXPECT_EQ(FormLoadSetup->LabelVersion()->text(), "Not Known");
    EXPECT_EQ(Status(), "None");
    EXPECT_TRUE(FormLoadSetup->PanelDoNotClose()->isHidden());
    uint8_t request[12];
    build_request_frame(216, 6, 0, request);
    EXPECT_EQ(pty.ReceiveAtFarEnd(12, 1000), Bytes(request, request + 12));
    Receive(VersionReply(2, 5, "ab", 0x15));
    EXPECT_EQ(FormLoadSetup->LabelVersion()->text(), "2.5ab");
    EXPECT_EQ(FormLoadSetup->savedNmeaMask, 0x15u);

    const QPoint placed = FormLoadSetup->pos();
    FormLoadSetup->move(placed + QPoint(7, 7));
    FormLoadSetup->ShowOver(BoundsOf(FormMain));
    EXPECT_EQ(FormLoadSetup->pos(), placed + QPoint(7, 7));  // placed the first time only
    EXPECT_EQ(FormLoadSetup->LabelVersion()->text(), "Not Known");
}

TEST_F(LoadDialog, OnlyNamesHoldingDotHexEnableLoad) {
    struct Row {
        QString chosen;  // empty: the file dialog was cancelled
        QString before;
        QString after;
        bool loadEnabled;
    };
    const Row rows[] = {
        {"/x/image.hex.bak", "", "/x/image.hex.bak", true},
        {"/x/IMAGE.HEX", "", "/x/IMAGE.HEX", true},
        {"/x/image.txt", "", "Invalid File Type", false},
        {"", "Invalid File Type", "Invalid File Type", false},
        {"", "/kept/lc300.hex", "/kept/lc300.hex", true},
    };
    auto* edit = FormLoadSetup->findChild<QLineEdit*>("EditFileName");
    for (const Row& r : rows) {
        edit->setText(r.before);
        Choose(r.chosen);
        EXPECT_EQ(edit->text(), r.after) << r.chosen.toStdString();
        EXPECT_EQ(FormLoadSetup->Button("ButtonLoad")->isEnabled(), r.loadEnabled) << r.chosen.toStdString();
    }
}

TEST_F(LoadDialog, AFileThatCannotBeOpenedStartsNothing) {
    OpenAt(19200);
    FormLoadSetup->SetFileName("/nonexistent/image.hex");
    FormLoadSetup->ButtonLoadClick();
    EXPECT_EQ(Status(), "Error opening file");
    EXPECT_FALSE(FormLoadSetup->Running());
    EXPECT_TRUE(FormMain->menuBar()->isEnabled());
}

// The windows that write to the port wait while a load owns it; the help window does not.
void ExpectPortUsersEnabled(bool enabled) {
    EXPECT_EQ(FormMain->menuBar()->isEnabled(), enabled);
    EXPECT_EQ(FormMain->Timer()->isActive(), enabled);
    for (QWidget* window :
         std::initializer_list<QWidget*>{FormPort, FormRcvrPort, FormMDB, FormTCMCalibStatus}) {
        EXPECT_EQ(window->isEnabled(), enabled) << window->objectName().toStdString();
    }
    EXPECT_TRUE(FormHelp->isEnabled());
}

TEST_F(LoadDialog, APortNotAt19200EndsWithThePortErrorAndRestoresEverything) {
    OpenAt(9600);
    Receive(VersionReply(1, 0, "SIM", 0x11));  // the mask to restore
    pty.ReceiveAtFarEnd(64, 50);
    FormLoadSetup->SetFileName(QString::fromStdString(ImageFile()));
    FormMain->Timer()->start();
    FormLoadSetup->ButtonLoadClick();
    EXPECT_TRUE(FormLoadSetup->Running());
    ExpectPortUsersEnabled(false);
    EXPECT_FALSE(FormLoadSetup->PanelDoNotClose()->isHidden());
    EXPECT_EQ(FormLoadSetup->PanelLine(1)->text(), "Do Not Close Program, Do Not Remove");
    EXPECT_FALSE(FormLoadSetup->Button("ButtonDone")->isEnabled());

    ASSERT_TRUE(LoadEnds());
    EXPECT_EQ(Status(), "PORT ERROR! OPEN PORT AT 19200 BPS FIRST.");
    ExpectPortUsersEnabled(true);
    EXPECT_TRUE(FormLoadSetup->PanelDoNotClose()->isHidden());
    EXPECT_TRUE(FormLoadSetup->Button("ButtonLoad")->isEnabled());
    EXPECT_EQ(Link().baudRate, 9600);
    // The receiver is sent back its NMEA set and the port dialog's rate, then asked again.
    const Bytes sent = pty.ReceiveAtFarEnd(config::kFrameLength + request::kFrameLength, 1000);
    ASSERT_EQ(sent.size(), config::kFrameLength + request::kFrameLength);
    EXPECT_EQ(sent[3], msgid::kConfig);
    EXPECT_EQ(get_le32(sent.data() + 6 + config::kNmeaMask), 0x11u);
    EXPECT_EQ(get_le32(sent.data() + 6 + config::kBaudRate), 9600u);
    EXPECT_EQ(sent[config::kFrameLength + 6], msgid::kConfig);  // the version request
}

// While the sequence waits for a bootloader that does not answer, the window answers: Load
// (after a new file was chosen) cancels it, and closing the main window ends it and puts the
// port back before the port closes.
TEST_F(LoadDialog, LoadDuringASequenceCancelsIt) {
    struct Row {
        const char* legend;
        std::function<void()> cancel;
        bool portOpenAfter;
    };
    const Row rows[] = {
        {"Load pressed again",
         [this] {
             Choose(QString::fromStdString(ImageFile()));  // the file button stays usable
             EXPECT_TRUE(FormLoadSetup->Button("ButtonLoad")->isEnabled());
             FormLoadSetup->ButtonLoadClick();
             EXPECT_FALSE(FormLoadSetup->Button("ButtonLoad")->isEnabled());  // once is enough
         },
         true},
        {"main window closed",
         [] {
             QCloseEvent close;
             QApplication::sendEvent(FormMain, &close);
             EXPECT_FALSE(FormLoadSetup->Running());  // ended before the port closed
         },
         false},
    };
    testsupport::FastClock fast{5};  // the countdown lasts 12 s, long enough to be seen
    testsupport::ScopedClock useFast{fast};
    for (const Row& row : rows) {
        OpenAt(19200);
        FormLoadSetup->SetFileName(QString::fromStdString(ImageFile()));
        FormLoadSetup->ButtonLoadClick();
        ASSERT_TRUE(FormLoadSetup->Running()) << row.legend;
        EXPECT_FALSE(FormLoadSetup->Button("ButtonLoad")->isEnabled()) << row.legend;
        // The probes go unanswered: the sequence counts down its 60 attempts.
        ASSERT_TRUE(testsupport::WaitUntil([this] { return Status().startsWith(loadtext::kEstablishing); }))
            << row.legend << ": " << Status().toStdString();
        // Neither Escape nor a close request takes the window away while the load runs.
        FormLoadSetup->show();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(FormLoadSetup, &escape);
        QCloseEvent close;
        QApplication::sendEvent(FormLoadSetup, &close);
        EXPECT_TRUE(FormLoadSetup->isVisible()) << row.legend;
        EXPECT_FALSE(close.isAccepted()) << row.legend;
        row.cancel();
        EXPECT_TRUE(LoadEnds()) << row.legend;
        EXPECT_EQ(Status(), "Cancelled") << row.legend;
        EXPECT_TRUE(FormMain->menuBar()->isEnabled()) << row.legend;
        EXPECT_TRUE(FormLoadSetup->PanelDoNotClose()->isHidden()) << row.legend;
        EXPECT_EQ(Link().line.IsOpen(), row.portOpenAfter) << row.legend;
        EXPECT_EQ(Link().baudRate, 19200) << row.legend;
    }
}

TEST_F(LoadDialog, DestroyingTheWindowsDuringALoadStopsIt) {
    testsupport::FastClock fast{5};
    testsupport::ScopedClock useFast{fast};
    OpenAt(19200);
    FormLoadSetup->SetFileName(QString::fromStdString(ImageFile()));
    FormLoadSetup->ButtonLoadClick();
    ASSERT_TRUE(testsupport::WaitUntil([this] { return Status().startsWith(loadtext::kEstablishing); }));
    DestroyForms();  // waits for the load's thread; nothing of it is left to run
    EXPECT_EQ(FormLoadSetup, nullptr);
    testsupport::WaitUntil([] { return false; }, 100);  // what the thread queued, if anything, is dropped
}

// The status line shows the longest messages whole, wrapped, without scrolling.
TEST_F(LoadDialog, LongStatusesShowWhole) {
    FormLoadSetup->ShowOver(BoundsOf(FormMain));
    QPlainTextEdit* memo = FormLoadSetup->Memo();
    for (const std::string& text : {std::string(loadtext::kLostAfterCheck),
                                    std::string(loadtext::kPortLost) + "No such file or directory",
                                    std::string(loadtext::kPortError)}) {
        FormLoadSetup->ShowStatus(text);
        QApplication::processEvents();
        EXPECT_EQ(memo->toPlainText().toStdString(), text);
        EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0) << text;
        EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0) << text;
    }
}

// The dialog against the simulated receiver, on a clock ten times faster than real time.
class LoadDialogOnSim : public FormsTest {
  protected:
    void SetUp() override {
        SimOptions options;
        options.timing.timeScale = 0.1;
        options.timing.powerCycleAfterMs = 0;
        sim = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(sim->Start()) << sim->LastError();
        CreateWithDevices({sim->DevicePath()});
        FormMain->Timer()->stop();
        FormPort->ButtonApplyClick();  // at 19200
        ASSERT_TRUE(Link().line.IsOpen());
    }
    void TearDown() override {
        FormsTest::TearDown();
        sim->Stop();
    }
    // Loads a one-block image; the device vanishes as the sequence shows `vanishAt` (on the
    // load's thread, before the sequence goes on). Returns every status shown, in order.
    QStringList LoadVanishingAt(const char* vanishAt) {
        const std::string image =
            std::filesystem::temp_directory_path() / ("lct-load-sim-" + std::to_string(getpid()) + ".hex");
        std::ofstream(image) << "S3090002000001020304EA\r\nS70500000000FA\r\n";
        QStringList statuses;
        QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [&] {
            const QString text = FormLoadSetup->Memo()->toPlainText();
            if (!text.isEmpty() && (statuses.isEmpty() || statuses.back() != text)) {
                statuses << text;
            }
        });
        FormLoadSetup->statusWatcher = [this, vanishAt](const std::string& text) {
            if (text == vanishAt) {
                sim->Vanish();
                for (int i = 0; i < 2000 && !sim->Vanished(); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        };
        FormLoadSetup->SetFileName(QString::fromStdString(image));
        FormLoadSetup->ButtonLoadClick();
        EXPECT_TRUE(testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 60000));
        std::filesystem::remove(image);
        return statuses;
    }

    testsupport::FastClock clock{10};
    testsupport::ScopedClock scoped{clock};
    std::unique_ptr<SimReceiver> sim;
};

const QString kLostNoDevice = QStringLiteral("Serial port lost: No such file or directory");

std::string Joined(const QStringList& statuses) {
    return statuses.join(" | ").toStdString();
}

TEST_F(LoadDialogOnSim, ADeviceGoneBeforeTheSwitchTo57600ShowsWhy) {
    const QStringList statuses = LoadVanishingAt(loadtext::kEstablished);
    EXPECT_EQ(Joined(statuses.mid(statuses.indexOf(loadtext::kEstablished))),
              Joined({loadtext::kEstablished, kLostNoDevice, loadtext::kFailed}));
    EXPECT_FALSE(FormLoadSetup->Running());
    EXPECT_TRUE(FormMain->menuBar()->isEnabled());
}

TEST_F(LoadDialogOnSim, ADeviceGoneAfterTheCheckPassedSaysTheSoftwareIsIn) {
    const QStringList statuses = LoadVanishingAt(loadtext::kProgrammingDone);
    EXPECT_EQ(
        Joined(statuses.mid(statuses.indexOf(loadtext::kCrcPassed))),
        Joined({loadtext::kCrcPassed, loadtext::kProgrammingDone, kLostNoDevice, loadtext::kLostAfterCheck}));
    EXPECT_EQ(sim->ProgrammedImage().size(), 1u);
    EXPECT_FALSE(FormLoadSetup->Running());
    // The failed reopen at 19200 was the port's last try: the port dialog offers the rate the
    // user had, not the loading rate.
    EXPECT_TRUE(FormMain->findChild<QLabel*>("StatusPanel0")->text().endsWith(": 19200 : Closed"))
        << FormMain->findChild<QLabel*>("StatusPanel0")->text().toStdString();
    EXPECT_EQ(Link().baudRate, 19200);
    EXPECT_EQ(FormPort->selectedBaudRate, 19200);
}

// A file the loader refuses is reported as lctrovi load --check reports it, and the receiver
// hears nothing: it must not be left in its bootloader.
TEST_F(LoadDialogOnSim, AFileTheLoaderRefusesIsReportedBeforeTheReceiverHearsAByte) {
    const struct {
        const char* kind;
        std::string text;
        const char* status;
    } files[] = {
        {"notes", "Call the office about the antenna.\r\n", "Invalid record at line 1. Error in input file."},
        {"no data", "S70500000000FA\r\n", "No S3 data records. Error in input file."},
    };
    const std::string path =
        std::filesystem::temp_directory_path() / ("lct-load-refused-" + std::to_string(getpid()) + ".txt");
    for (const auto& file : files) {
        std::ofstream(path, std::ios::binary) << file.text;
        sim->ClearRecord();
        FormLoadSetup->SetFileName(QString::fromStdString(path));
        FormLoadSetup->ButtonLoadClick();
        EXPECT_FALSE(FormLoadSetup->Running()) << file.kind;
        EXPECT_EQ(FormLoadSetup->Memo()->toPlainText().toStdString(), file.status) << file.kind;
        EXPECT_TRUE(FormMain->menuBar()->isEnabled()) << file.kind;
        for (const SimRecordEntry& entry : sim->Record()) {
            EXPECT_NE(entry.direction, SimDirection::kReceived)
                << file.kind << ": " << FormatRecordEntry(entry);
        }
    }
    std::filesystem::remove(path);
}

// Load pressed again to cancel, once the bootloader has answered: the window says where the
// receiver is left. In its bootloader it is back at the normal rate, so that the next load (the
// second row) finds it; while it programs itself, nothing stops it.
TEST_F(LoadDialogOnSim, ACancelAfterTheBootloaderAnsweredSaysWhereTheReceiverIsLeft) {
    const struct {
        const char* cancelAt;  // the load's thread waits at this status until Load was pressed
        const char* status;
        bool inBootloaderAfter;
    } rows[] = {
        {loadtext::kSending, loadtext::kInBootloader, true},
        {loadtext::kStartProgramming, loadtext::kStoppedWhileProgramming, false},
    };
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-load-cancel-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image) << "S3090002000001020304EA\r\nS70500000000FA\r\n";
    for (const auto& row : rows) {
        std::atomic<bool> atPoint{false};
        std::atomic<bool> pressed{false};
        FormLoadSetup->statusWatcher = [&](const std::string& text) {
            if (text == row.cancelAt) {
                atPoint = true;
                for (int i = 0; i < 5000 && !pressed; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        };
        FormLoadSetup->SetFileName(QString::fromStdString(image));
        FormLoadSetup->ButtonLoadClick();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return atPoint.load(); }, 30000)) << row.cancelAt;
        FormLoadSetup->ButtonLoadClick();
        pressed = true;
        ASSERT_TRUE(testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 30000)) << row.cancelAt;
        FormLoadSetup->statusWatcher = nullptr;
        EXPECT_EQ(FormLoadSetup->Memo()->toPlainText().toStdString(), row.status);
        EXPECT_TRUE(FormMain->menuBar()->isEnabled());
        EXPECT_TRUE(FormLoadSetup->PanelDoNotClose()->isHidden());
        EXPECT_EQ(Link().baudRate, 19200);
        if (row.inBootloaderAfter) {
            EXPECT_EQ(sim->Mode(), SimMode::kBootloader);
            EXPECT_EQ(sim->LineBaud(), 19200u);
            EXPECT_TRUE(sim->ProgrammedImage().empty());
        }
    }
    std::filesystem::remove(image);
}

TEST_F(LoadDialog, HelpOpensTheLoadingTopic) {
    FormLoadSetup->ShowOver(BoundsOf(FormMain));
    FormLoadSetup->Button("ButtonHelp")->click();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_EQ(FormHelp->windowTitle(), "Help - Loading Instructions");
}

}  // namespace
