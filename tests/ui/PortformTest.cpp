#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "FormsFixture.h"
#include "link/Serialport.h"
#include "proto/Frame.h"
#include "support/FakeClock.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Portform.h"
#include "ui/Waitform.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The port dialog over two real pseudo-terminals, with the search's clock in the test's hand.
class PortDialog : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({first.SlavePath(), second.SlavePath()});
        FormMain->Timer()->stop();
    }
    void Click(const char* button) { FormPort->Button(button)->click(); }
    // Runs receive ticks (each ends with the search's tick) over `seconds` of fake time.
    void Ticks(int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            clock.SleepMs(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            FormMain->TimerTimer();
        }
    }
    // Every note shown from now on is accepted and its text recorded.
    void CollectNotes() {
        acceptor = std::make_unique<testsupport::ModalAcceptor>([this](QDialog* d) {
            notes.push_back(static_cast<TFormNote*>(d)->Label()->text().toStdString());
        });
    }
    std::string Panel() { return FormMain->StatusPanel(0)->text().toStdString(); }

    testsupport::FakeClock clock;
    testsupport::ScopedClock scoped{clock};
    PtyPair first;
    PtyPair second;
    std::vector<std::string> notes;
    std::unique_ptr<testsupport::ModalAcceptor> acceptor;
};

TEST_F(PortDialog, StartsWithTheFirstDeviceAt19200AndManualSelections) {
    EXPECT_EQ(FormPort->windowTitle(), "Open Port");
    EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText().toStdString(), first.SlavePath());
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "19200");
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->count(), 4);
    EXPECT_TRUE(FormPort->Button("ButtonDeviceNameManual")->isChecked());
    EXPECT_TRUE(FormPort->Button("ButtonBaudRateManual")->isChecked());
    EXPECT_EQ(Link().portName, first.SlavePath());
    EXPECT_EQ(Link().baudRate, 19200);
    EXPECT_EQ(Panel(), first.SlavePath() + " : 19200 : Closed");
}

// A line on the network opens beside the window: its events go on meanwhile, and the wait
// window's Cancel ends the attempt (here a server that takes the connection and never answers).
TEST_F(PortDialog, ANetworkLineOpensBesideTheWindowAndCancelEndsIt) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length), 0);
    CollectNotes();
    QString waitText;
    QTimer::singleShot(200, [&] {
        waitText = FormWait->Label()->text();
        static_cast<QAbstractButton*>(FormWait->ButtonCancel())->click();
    });
    const std::string silent = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    FormPort->ComboBoxDeviceName()->setEditText(QString::fromStdString(silent));
    FormPort->ButtonApplyClick();
    ::close(server);
    EXPECT_EQ(waitText.toStdString(),
              "Connecting to 127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "...");
    EXPECT_FALSE(Link().line.IsOpen());
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("was cancelled"), std::string::npos) << notes[0];
    EXPECT_TRUE(FormPort->isEnabled());
}

TEST_F(PortDialog, ManualApplyOpensTheChosenDeviceAtTheChosenRate) {
    FormPort->ComboBoxDeviceName()->setCurrentIndex(1);
    FormPort->ComboBoxBaudRate()->setCurrentIndex(1);
    FormPort->ButtonApplyClick();
    EXPECT_TRUE(Link().line.IsOpen());
    EXPECT_EQ(Panel(), second.SlavePath() + " : 9600 : Open");
    EXPECT_EQ(FormPort->selectedBaudRate, 9600);
    // Reads return at once: a tick with nothing received does not block.
    const auto t0 = std::chrono::steady_clock::now();
    FormMain->TimerTimer();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(PortDialog, ManualOpenFailureShowsTheNoteAndTheClosedState) {
    FormPort->ComboBoxDeviceName()->addItem("nonexistent");
    FormPort->deviceList.push_back("/dev/lct-no-such-device");
    FormPort->ComboBoxDeviceName()->setCurrentIndex(2);
    CollectNotes();
    FormPort->ButtonApplyClick();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Error opening device /dev/lct-no-such-device");
    EXPECT_EQ(Panel(), "/dev/lct-no-such-device : 19200 : Closed");
}

TEST_F(PortDialog, TypedRateThatSelectsNothingFallsBackTo19200) {
    FormPort->ComboBoxBaudRate()->setEditText("12345");
    FormPort->ReadSelection();
    EXPECT_EQ(FormPort->selectedBaudRate, 19200);
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "19200");
    FormPort->ComboBoxDeviceName()->setEditText("typed-name");
    FormPort->ReadSelection();
    EXPECT_EQ(FormPort->selectedDeviceName, first.SlavePath());
}

TEST_F(PortDialog, AutoSearchTriesEveryCandidateThenReportsFailure) {
    Click("ButtonDeviceNameAuto");
    Click("ButtonBaudRateAuto");
    EXPECT_FALSE(FormPort->ComboBoxDeviceName()->isEnabled());
    CollectNotes();
    FormPort->ButtonOKClick();
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_TRUE(FormWait->isVisible());
    EXPECT_EQ(FormWait->Label()->text().toStdString(), "Attempting " + first.SlavePath() + " at 4800");
    EXPECT_EQ(Panel(), first.SlavePath() + " : 4800 : Open");
    Ticks(2 * 8 + 1);
    EXPECT_EQ(notes, (std::vector<std::string>{"Failed to find unit."}));
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    // Left open at the last candidate tried.
    EXPECT_EQ(Panel(), second.SlavePath() + " : 38400 : Open");
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "38400");
}

TEST_F(PortDialog, AutoSearchReportsADeviceItCannotOpenAndGoesOn) {
    const std::string missing = "/dev/lct-no-such-device";
    FormPort->deviceList.push_front(missing);
    FormPort->ComboBoxDeviceName()->insertItem(0, QString::fromStdString(missing));
    Click("ButtonDeviceNameAuto");  // at the fixed rate of 19200
    CollectNotes();
    FormPort->ButtonApplyClick();
    EXPECT_EQ(notes, (std::vector<std::string>{"Error opening device " + missing}));
    EXPECT_TRUE(FormPort->Searching());
    EXPECT_EQ(FormWait->Label()->text().toStdString(), "Attempting " + first.SlavePath() + " at 19200");
    Ticks(2 * 2 + 1);
    EXPECT_EQ(notes, (std::vector<std::string>{"Error opening device " + missing, "Failed to find unit."}));

    // When no device can be opened at all, each is reported and the search still ends.
    TearDown();
    CreateWithDevices({missing, missing + "-2"});
    FormMain->Timer()->stop();
    notes.clear();
    Click("ButtonDeviceNameAuto");
    Click("ButtonBaudRateAuto");
    FormPort->ButtonApplyClick();
    EXPECT_EQ(notes,
              (std::vector<std::string>{"Error opening device " + missing,
                                        "Error opening device " + missing + "-2", "Failed to find unit."}));
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
}

TEST_F(PortDialog, AnswerAfterTheProbeIsFoundUnlessTheLastFrameIsId255) {
    Click("ButtonBaudRateAuto");
    FormPort->ComboBoxDeviceName()->setCurrentIndex(1);
    int foundRate = -1;
    FormPort->onReceiverFound = [&](int rateIndex) { foundRate = rateIndex; };
    FormPort->ButtonApplyClick();
    // Candidate 1 (4800): the far end answers with a frame of id 255 only.
    Bytes frame255(8);
    build_frame(255, nullptr, 0, frame255.data());
    second.SendFromFarEnd(frame255);
    Ticks(2);
    EXPECT_TRUE(FormPort->Searching());
    EXPECT_EQ(Link().baudRate, 9600);
    // Candidate 2 (9600): the receiver's reply arrives.
    Bytes reply(8);
    build_frame(216, nullptr, 0, reply.data());
    second.SendFromFarEnd(reply);
    Ticks(2);
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_EQ(foundRate, 1);
    EXPECT_EQ(Panel(), second.SlavePath() + " : 9600 : Open");
    EXPECT_FALSE(FormWait->isVisible());
}

TEST_F(PortDialog, CancelInTheWaitWindowEndsTheSearchAndLeavesThePortOpen) {
    Click("ButtonDeviceNameAuto");
    CollectNotes();
    FormPort->ButtonApplyClick();
    Ticks(2);  // on to the second device
    qobject_cast<QPushButton*>(FormWait->ButtonCancel())->click();
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    Ticks(3);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(Panel(), second.SlavePath() + " : 19200 : Open");
}

TEST_F(PortDialog, AnEmptyPortListIsReportedWhenApplying) {
    TearDown();
    CreateWithDevices({});
    EXPECT_EQ(FormPort->ComboBoxDeviceName()->count(), 0);
    CollectNotes();
    FormPort->ButtonApplyClick();
    EXPECT_EQ(notes, (std::vector<std::string>{"No serial ports found"}));
    EXPECT_FALSE(Link().line.IsOpen());
}

// The device field shows the longest network address whole (a line edit too narrow scrolls its
// text, and the cursor at the end then stands left of where the text would end), and its
// tooltip follows the text however it changes.
TEST_F(PortDialog, TheDeviceFieldHoldsAWholeAddressAndItsTooltipFollowsTheText) {
    FormPort->ShowOver(QRect(0, 0, 1000, 800));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormPort));
    QComboBox* device = FormPort->ComboBoxDeviceName();
    QLineEdit* edit = device->lineEdit();
    const QString longest = QStringLiteral("rfc2217://255.255.255.255:65535");
    edit->setText(longest);
    edit->end(false);
    edit->repaint();  // a line edit scrolls its text as it paints
    EXPECT_GE(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x(),
              edit->fontMetrics().horizontalAdvance(longest))
        << "the address is scrolled: its start is cut off";
    EXPECT_EQ(device->width(), FormPort->ComboBoxBaudRate()->width()) << "one column";

    struct Row {
        const char* legend;
        std::function<void()> change;
        QString shown;
    };
    const Row rows[] = {
        {"typed", [&] { edit->setText(longest); }, longest},
        {"chosen from the list", [&] { device->setCurrentIndex(1); },
         QString::fromStdString(second.SlavePath())},
        {"typed, one key at a time", [&] { QTest::keyClicks(edit, "tcp://10.0.0.2:4001"); },
         QString::fromStdString(second.SlavePath()) + "tcp://10.0.0.2:4001"},
    };
    for (const Row& r : rows) {
        r.change();
        EXPECT_TRUE(device->toolTip().startsWith(r.shown + "\n"))
            << r.legend << ": " << device->toolTip().toStdString();
    }
    edit->clear();
    EXPECT_TRUE(device->toolTip().startsWith("A serial device")) << "empty: what the field takes";
}

TEST_F(PortDialog, ShowOverPlacesTheDialogOnlyTheFirstTime) {
    FormPort->ShowOver(QRect(0, 0, 1000, 800));
    const QPoint placed = FormPort->frameGeometry().topLeft();
    FormPort->move(3, 4);
    FormPort->ShowOver(QRect(0, 0, 1000, 800));
    EXPECT_NE(FormPort->frameGeometry().topLeft(), placed);
    EXPECT_TRUE(FormPort->positioned);
}

// A user who may not open the device learns its group and how to join it. The open runs in a
// child that has become another user (root may open anything).
TEST(OpenErrorNote, NamesTheDevicesGroupAndHowToJoinIt) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch to another user";
    }
    struct Case {
        gid_t group;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {getgrnam("tty")->gr_gid, "belongs to the group tty: join it with \"sudo usermod -aG tty $USER\""},
        {0, "Ask the administrator for access to"},
    };
    for (const Case& c : cases) {
        PtyPair pty;
        ASSERT_EQ(chown(pty.SlavePath().c_str(), 0, c.group), 0);
        ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0660), 0);
        int channel[2];
        ASSERT_EQ(pipe(channel), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(channel[0]);
            if (setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(2);
            }
            SerialPort port;
            const std::string note = port.Open(pty.SlavePath(), 19200)
                                         ? "opened"
                                         : OpenErrorNote(pty.SlavePath(), port).toStdString();
            _exit(write(channel[1], note.data(), note.size()) == static_cast<ssize_t>(note.size()) ? 0 : 3);
        }
        close(channel[1]);
        std::string note;
        char chunk[512];
        for (ssize_t n; (n = read(channel[0], chunk, sizeof chunk)) > 0;) {
            note.append(chunk, static_cast<size_t>(n));
        }
        close(channel[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(note.rfind("Error opening device " + pty.SlavePath() + "\n\nPermission denied", 0), 0u)
            << note;
        EXPECT_NE(note.find(c.expected), std::string::npos) << note;
    }
}

// The port dialog of the next run opens with the device and rate last applied or found.
class RememberedPort : public PortDialog {
  protected:
    // Ends this run as closing the main window does and starts the next one, with `named`
    // on the command line and `system` as the system's port list.
    void NextRun(std::vector<std::string> named, const StringDeque& system) {
        FormMain->close();
        Link().line.Close();
        DestroyForms();
        CommandLineDevices() = std::move(named);
        SystemPortLister = [system](StringDeque& list) {
            list = system;
            return true;
        };
        CreateForms();
        FormMain->Timer()->stop();
    }
    void ExpectSelected(const std::string& device, const std::string& rate, const char* what) {
        EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText().toStdString(), device) << what;
        EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText().toStdString(), rate) << what;
        EXPECT_EQ(Panel(), device + " : " + rate + " : Closed") << what;  // nothing opened at start-up
        EXPECT_FALSE(Link().line.IsOpen()) << what;
    }
    ScratchSettings settings;
};

TEST_F(RememberedPort, TheLastDeviceAndRateAppliedComeBackUnlessTheCommandLineNamesDevices) {
    FormPort->ComboBoxDeviceName()->setCurrentIndex(1);
    FormPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormPort->ButtonApplyClick();
    ASSERT_TRUE(Link().line.IsOpen());
    struct Run {
        const char* what;
        std::vector<std::string> named;
        StringDeque system;
        std::string selected;
    };
    const Run runs[] = {
        {"still listed: selected", {}, {first.SlavePath(), second.SlavePath()}, second.SlavePath()},
        {"devices on the command line: the first of them",
         {first.SlavePath()},
         {first.SlavePath(), second.SlavePath()},
         first.SlavePath()},
        {"no longer listed: the first device", {}, {first.SlavePath()}, first.SlavePath()},
    };
    for (const Run& r : runs) {
        NextRun(r.named, r.system);
        ExpectSelected(r.selected, "38400", r.what);
    }
}

TEST_F(RememberedPort, AReceiverFoundIsRememberedAndADeviceThatFailsToOpenIsNot) {
    Click("ButtonBaudRateAuto");
    FormPort->ComboBoxDeviceName()->setCurrentIndex(1);
    FormPort->ButtonApplyClick();
    Ticks(2);  // nothing answers at 4800
    Bytes reply(8);
    build_frame(216, nullptr, 0, reply.data());
    second.SendFromFarEnd(reply);
    Ticks(2);
    ASSERT_FALSE(FormPort->Searching());
    ASSERT_EQ(Link().baudRate, 9600);

    Click("ButtonBaudRateManual");
    FormPort->ComboBoxDeviceName()->addItem("nonexistent");
    FormPort->deviceList.push_back("/dev/lct-no-such-device");
    FormPort->ComboBoxDeviceName()->setCurrentIndex(2);
    FormPort->ComboBoxBaudRate()->setCurrentIndex(0);
    CollectNotes();
    FormPort->ButtonApplyClick();
    ASSERT_EQ(notes.size(), 1u);

    NextRun({}, {first.SlavePath(), second.SlavePath()});
    ExpectSelected(second.SlavePath(), "9600", "found by the search");
}

}  // namespace
