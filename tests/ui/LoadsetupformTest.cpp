// The software loading dialog over a real pseudo-terminal with the clock in the test's hand:
// the version display, the file choice rules, starting, cancelling and ending a sequence.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
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
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Scaleutils.h"

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
        ASSERT_TRUE(Link().serialPort.IsOpen());
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
    std::string ImageFile() {
        std::string path =
            std::filesystem::temp_directory_path() / ("lct-load-" + std::to_string(getpid()) + ".hex");
        std::ofstream(path) << "S3090001000001020304EC\r\nS70500000000FA\r\n";
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

TEST_F(LoadDialog, APortNotAt19200EndsWithThePortErrorAndRestoresEverything) {
    OpenAt(9600);
    Receive(VersionReply(1, 0, "SIM", 0x11));  // the mask to restore
    pty.ReceiveAtFarEnd(64, 50);
    FormLoadSetup->SetFileName(QString::fromStdString(ImageFile()));
    FormMain->Timer()->start();
    FormLoadSetup->ButtonLoadClick();
    EXPECT_TRUE(FormLoadSetup->Running());
    EXPECT_FALSE(FormMain->Timer()->isActive());
    EXPECT_FALSE(FormMain->menuBar()->isEnabled());
    EXPECT_FALSE(FormLoadSetup->PanelDoNotClose()->isHidden());
    EXPECT_EQ(FormLoadSetup->PanelLine(1)->text(), "Do Not Close Program, Do Not Remove");
    EXPECT_FALSE(FormLoadSetup->Button("ButtonDone")->isEnabled());

    FormLoadSetup->TimerTimer();
    EXPECT_FALSE(FormLoadSetup->Running());
    EXPECT_EQ(Status(), "PORT ERROR! OPEN PORT AT 19200 BPS FIRST.");
    EXPECT_TRUE(FormMain->Timer()->isActive());
    EXPECT_TRUE(FormMain->menuBar()->isEnabled());
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

TEST_F(LoadDialog, LoadDuringASequenceCancelsIt) {
    OpenAt(19200);
    FormLoadSetup->SetFileName(QString::fromStdString(ImageFile()));
    FormLoadSetup->ButtonLoadClick();
    ASSERT_TRUE(FormLoadSetup->Running());
    EXPECT_FALSE(FormLoadSetup->Button("ButtonLoad")->isEnabled());
    Choose(QString::fromStdString(ImageFile()));  // the file button stays usable
    EXPECT_TRUE(FormLoadSetup->Button("ButtonLoad")->isEnabled());
    FormLoadSetup->ButtonLoadClick();
    EXPECT_FALSE(FormLoadSetup->Running());
    EXPECT_EQ(Status(), "Cancelled");
    EXPECT_TRUE(FormMain->menuBar()->isEnabled());
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
        ASSERT_TRUE(Link().serialPort.IsOpen());
    }
    void TearDown() override {
        FormsTest::TearDown();
        sim->Stop();
    }
    // Loads a one-block image; the device vanishes when the window shows `vanishAt`.
    // Returns every status shown, in order.
    QStringList LoadVanishingAt(const char* vanishAt) {
        const std::string image =
            std::filesystem::temp_directory_path() / ("lct-load-sim-" + std::to_string(getpid()) + ".hex");
        std::ofstream(image) << "S3090002000001020304EA\r\nS70500000000FA\r\n";
        QStringList statuses;
        QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [&] {
            const QString text = FormLoadSetup->Memo()->toPlainText();
            if (text.isEmpty() || (!statuses.isEmpty() && statuses.back() == text)) {
                return;
            }
            statuses << text;
            if (text == vanishAt) {
                sim->Vanish();
                for (int i = 0; i < 2000 && !sim->Vanished(); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
        FormLoadSetup->SetFileName(QString::fromStdString(image));
        FormLoadSetup->ButtonLoadClick();
        for (int tick = 0; tick < 1000 && FormLoadSetup->Running(); ++tick) {
            FormLoadSetup->TimerTimer();
        }
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
    EXPECT_TRUE(FormMain->findChild<QLabel*>("StatusPanel0")->text().endsWith("Closed"));
}

TEST_F(LoadDialog, HelpOpensTheLoadingTopic) {
    FormLoadSetup->ShowOver(BoundsOf(FormMain));
    FormLoadSetup->Button("ButtonHelp")->click();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_EQ(FormHelp->windowTitle(), "Help - Loading Instructions");
}

}  // namespace
