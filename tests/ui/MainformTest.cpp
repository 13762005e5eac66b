#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "FormsFixture.h"
#include "proto/Frame.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Mainform.h"
#include "ui/Msgrouting.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Frame(uint8_t id, Bytes payload) {
    Bytes out(payload.size() + 8);
    out.resize(build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), out.data()));
    return out;
}

// The lines the memo shows, without their time stamps.
std::vector<std::string> ShownLines() {
    std::vector<std::string> out;
    for (const QString& line : FormMain->Memo()->toPlainText().split('\n', Qt::SkipEmptyParts)) {
        out.push_back(line.mid(10).toStdString());  // "hh:mm:ss: " is ten characters
    }
    return out;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MainWindow : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({pty.SlavePath()});
        FormMain->Timer()->stop();  // ticks are driven by the test
    }
    void OpenPty() {
        ASSERT_TRUE(Link().line.Open(pty.SlavePath(), 19200, 0));
        Link().line.SetBlocking(false);
    }
    // Sends bytes from the far end and runs receive ticks until the port has delivered them.
    void Receive(const Bytes& bytes) {
        pty.SendFromFarEnd(bytes);
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            FormMain->TimerTimer();
        }
    }
    PtyPair pty;
};

TEST_F(MainWindow, StartsWithItsCaptionMenusAndBothStatusPanels) {
    EXPECT_EQ(FormMain->windowTitle(), "Lumacor LCTrovi Utility");
    EXPECT_EQ(FormMain->StatusPanel(0)->text().toStdString(), pty.SlavePath() + " : 19200 : Closed");
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: none");
    EXPECT_EQ(FormMain->Timer()->interval(), 100);
    QStringList titles;
    for (QAction* menu : FormMain->menuBar()->actions()) {
        titles << menu->text();
        for (QAction* item : menu->menu()->actions()) {
            titles << "  " + (item->isSeparator() ? QStringLiteral("---") : item->text());
        }
    }
    EXPECT_EQ(titles, (QStringList{"&File",
                                   "  &Logging",
                                   "  &Save Display As...",
                                   "  &Record...",
                                   "  &Open Recording...",
                                   "  Re&play",
                                   "  &Export Track...",
                                   "  ---",
                                   "  E&xit",
                                   "&Edit",
                                   "  &Copy",
                                   "  Select &All",
                                   "  ---",
                                   "  C&lear Display",
                                   "  &Pause Display",
                                   "&Port",
                                   "  &Configure...",
                                   "  C&lose",
                                   "&Receiver",
                                   "  &Configure...",
                                   "  &Load Software",
                                   "  &MDB",
                                   "  &TCM Level Calib",
                                   "  &Status",
                                   "  &Accuracy",
                                   "&Help",
                                   "  &Contents",
                                   "  &About..."}));
    EXPECT_TRUE(FormMain->StatusPanel(2)->isHidden());
    EXPECT_GT(FormMain->maxLines, 10);
    EXPECT_EQ(FormMain->messageCount, 0);
}

TEST_F(MainWindow, ShowsSentencesAndFramesCountsThemAndDropsOtherLines) {
    OpenPty();
    Receive(Text("$GPGGA,1,2*00\r\n$gpgga,lower\r\n$GLGSV,other\r\nnoise\r\n"));
    Receive(Frame(0x42, {1, 2, 3}));
    // A sentence straight after a frame stands on its own line.
    Receive(Text("$PNSNR,90,3*11\r\n"));
    Receive(Frame(0xD8, {}));
    EXPECT_EQ(ShownLines(), (std::vector<std::string>{"$GPGGA,1,2*00", "Proprietary ID 66", "$PNSNR,90,3*11",
                                                      "Proprietary ID 216"}));
    EXPECT_EQ(FormMain->messageCount, 4);
    EXPECT_EQ(FormMain->lastMessageId, 216);
}

TEST_F(MainWindow, FramesGoWholeToTheirRegisteredHandler) {
    OpenPty();
    Bytes seen;
    int calls = 0;
    RegisterRecipient(0x77, {FormMain, [&](const uint8_t* f, int32_t n) {
                                 ++calls;
                                 seen.assign(f, f + n);
                             }});
    const Bytes frame = Frame(0x77, {9, 8, 7, 0x02, 0x0D, 0x0A});
    Receive(Frame(0x78, {1}));  // no recipient: shown, nothing called
    Receive(frame);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, frame);
    RegisterRecipient(0x77, {FormMain, nullptr});  // an unset handler swallows its frames
    Receive(frame);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ShownLines().size(), 3u);
}

// Whatever half frame or half line the old port or rate left behind, the first reply after a
// switch is whole.
TEST_F(MainWindow, APortOrRateSwitchStartsTheFramersAfresh) {
    struct Case {
        const char* what;
        bool switchPort;  // else the rate changes on the same port
        Bytes leftBehind;
    };
    const Bytes frame = Frame(0xD8, Bytes(30, 0x11));
    const std::vector<Case> cases = {
        {"half frame, port switch", true, Bytes(frame.begin(), frame.begin() + 12)},
        {"half frame, rate change", false, Bytes(frame.begin(), frame.begin() + 12)},
        {"half line, port switch", true, Text("$GPGGA,1234")},
        {"half line, rate change", false, Text("$GPGGA,1234")},
    };
    for (const Case& c : cases) {
        PtyPair other;
        OpenPty();
        Receive(c.leftBehind);
        if (c.switchPort) {
            Link().line.Close();
            ASSERT_TRUE(Link().line.Open(other.SlavePath(), 19200, 0));
            Link().line.SetBlocking(false);
        } else {
            ASSERT_TRUE(Link().line.SetBaudRate(9600));
        }
        FormMain->Memo()->clear();
        const PtyPair& now = c.switchPort ? other : pty;
        now.SendFromFarEnd(frame);
        now.SendFromFarEnd(Text("$GPRMC,1*00\r\n"));
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            FormMain->TimerTimer();
        }
        EXPECT_EQ(ShownLines(), (std::vector<std::string>{"Proprietary ID 216", "$GPRMC,1*00"})) << c.what;
        Link().line.Close();
    }
}

// A tick takes all that the line holds, not a fixed share of it (a pseudo-terminal holds
// about 4 KiB; the tick's own bound is met by a replay, in the replay's tests).
TEST_F(MainWindow, ATickTakesAllTheLineHolds) {
    OpenPty();
    FormMain->maxLines = 0;  // every line stays
    const std::string sentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    std::string burst;
    for (int i = 0; i < 55; ++i) {
        burst += sentence;
    }
    pty.SendFromFarEnd(Bytes(burst.begin(), burst.end()));
    ASSERT_TRUE(pty.WaitForPendingInput(static_cast<int>(burst.size()), 2000));
    FormMain->TimerTimer();
    EXPECT_EQ(ShownLines().size(), 55u);
    EXPECT_EQ(FormMain->Timer()->interval(), 100);
}

TEST_F(MainWindow, KeepsAtMostMaxLinesLines) {
    for (int i = 0; i < FormMain->maxLines + 7; ++i) {
        FormMain->ShowLine(QString::number(i));
    }
    const auto lines = ShownLines();
    ASSERT_EQ(static_cast<int>(lines.size()), FormMain->maxLines);
    EXPECT_EQ(lines.back(), std::to_string(FormMain->maxLines + 6));
    EXPECT_EQ(lines.front(), "7");
}

TEST_F(MainWindow, PortCloseItemClosesAndShowsTheState) {
    OpenPty();
    Link().portName = pty.SlavePath();
    FormMain->ShowPortState();
    EXPECT_TRUE(FormMain->StatusPanel(0)->text().endsWith(" : Open"));
    FormMain->Action("MenuPortClose")->trigger();
    EXPECT_FALSE(Link().line.IsOpen());
    EXPECT_TRUE(FormMain->StatusPanel(0)->text().endsWith(" : Closed"));
}

TEST_F(MainWindow, SplashShowsOverTheMainWindowOnFirstShowing) {
    FormMain->show();
    EXPECT_TRUE(FormAbout->isVisible());
    EXPECT_TRUE(FormAbout->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(FormAbout->ButtonClose()->isHidden());
}

TEST_F(MainWindow, HelpContentsItemOpensTheHelpAtItsContentsOverTheMainWindow) {
    ASSERT_NE(FormHelp, nullptr);
    EXPECT_EQ(FormHelp->parent(), FormMain);
    QAction* contents = FormMain->Action("MenuHelpContents");
    EXPECT_TRUE(contents->isEnabled());
    FormMain->show();
    FormHelp->LabelNMEAGGAClick();  // a topic left open from before is not what the menu shows
    contents->trigger();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_EQ(FormHelp->windowTitle(), "Help");
    EXPECT_EQ(FormHelp->size(), QSize(400, 495));
    EXPECT_EQ(FormHelp->frameGeometry().topLeft(),
              CentredOver(BoundsOf(FormMain), FormHelp->frameGeometry().size(), true));
}

// The display with the focus, in the active main window, as when the user has clicked into it.
class Console : public MainWindow {
  protected:
    void SetUp() override {
        MainWindow::SetUp();
        FormMain->show();
        FormAbout->hide();  // the splash would take the keys
        FormMain->activateWindow();
        ASSERT_TRUE(FormMain->Memo()->focusPolicy() & Qt::ClickFocus);  // a click gives it the keys
        FormMain->Memo()->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowActive(FormMain));
    }
    static void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }
    static std::vector<std::string> Sentences(int from, int to) {
        std::vector<std::string> out;
        for (int i = from; i < to; ++i) {
            out.push_back("$GPGGA," + std::to_string(i) + "*00");
        }
        return out;
    }
    void ReceiveSentences(int from, int to) {
        std::string text;
        for (const std::string& s : Sentences(from, to)) {
            text += s + "\r\n";
        }
        Receive(Text(text));
    }
};

TEST_F(Console, PausedDisplayHoldsWhatArrivesAndCatchesUpOnResuming) {
    OpenPty();
    const int fit = FormMain->maxLines;
    ASSERT_GT(fit, 2);
    ReceiveSentences(0, 2);
    struct Toggle {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
    };
    // Space in the display and Ctrl+P each pause and resume.
    for (const Toggle& t : {Toggle{Qt::Key_Space, Qt::NoModifier}, Toggle{Qt::Key_P, Qt::ControlModifier}}) {
        const std::vector<std::string> before = ShownLines();
        const int count = FormMain->messageCount;
        Key(t.key, t.modifiers);
        ASSERT_TRUE(FormMain->Paused()) << t.key;
        EXPECT_EQ(FormMain->StatusPanel(2)->text(), "Paused");
        EXPECT_FALSE(FormMain->StatusPanel(2)->isHidden());
        EXPECT_EQ(FormMain->Action("MenuEditPause")->text(), "&Resume Display");
        ReceiveSentences(100, 100 + fit + 3);  // more than the display holds
        EXPECT_EQ(ShownLines(), before) << t.key;
        EXPECT_EQ(FormMain->messageCount, count + fit + 3);  // counting goes on
        Key(t.key, t.modifiers);
        EXPECT_FALSE(FormMain->Paused());
        EXPECT_TRUE(FormMain->StatusPanel(2)->isHidden());
        EXPECT_EQ(FormMain->Action("MenuEditPause")->text(), "&Pause Display");
        EXPECT_EQ(ShownLines(), Sentences(103, 100 + fit + 3)) << t.key;  // the newest that fit
    }
    // Space with a modifier, or Space for another control, leaves the display alone.
    Key(Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_FALSE(FormMain->Paused());
}

TEST_F(Console, ShortcutsSelectCopyAndClearAndClearingDropsWhatWasHeld) {
    OpenPty();
    ReceiveSentences(0, 3);
    QAction* copy = FormMain->Action("MenuEditCopy");
    EXPECT_FALSE(copy->isEnabled());  // nothing selected yet
    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(copy->isEnabled());
    QApplication::clipboard()->clear();
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), FormMain->Memo()->toPlainText());
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(": $GPGGA,2*00"));

    Key(Qt::Key_P, Qt::ControlModifier);
    ReceiveSentences(3, 5);
    Key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(FormMain->Memo()->toPlainText(), "");
    Key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(ShownLines(), std::vector<std::string>{});  // cleared means cleared, held lines too
    ReceiveSentences(5, 6);
    EXPECT_EQ(ShownLines(), Sentences(5, 6));
}

TEST_F(Console, TheDisplaysContextMenuHoldsItsCommands) {
    auto* menu = FormMain->findChild<QMenu*>("MemoContextMenu");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* item : menu->actions()) {
        items << (item->isSeparator() ? QStringLiteral("---") : item->text());
    }
    EXPECT_EQ(items, (QStringList{"&Copy", "Select &All", "---", "C&lear Display", "&Pause Display", "---",
                                  "&Save Display As..."}));
    EXPECT_EQ(FormMain->Memo()->contextMenuPolicy(), Qt::CustomContextMenu);
}

class Logging : public MainWindow {
  protected:
    std::string dir = std::filesystem::temp_directory_path() / ("lct-log-" + std::to_string(::getpid()));
    void SetUp() override {
        MainWindow::SetUp();
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        MainWindow::TearDown();
        std::filesystem::remove_all(dir);
    }
    void Choose(const std::string& path) {
        FormMain->chooseLogFile = [path] { return QString::fromStdString(path); };
    }
};

TEST_F(Logging, WritesEachShownSentenceAsReceivedAndTruncatesOnRestart) {
    const std::string path = dir + "/run1.txt";
    {
        std::ofstream old(path);
        old << "old contents\n";
    }
    Choose(path);
    FormMain->MenuFileLoggingClick();
    EXPECT_TRUE(FormMain->logging);
    EXPECT_EQ(FormMain->Action("MenuFileLogging")->text(), "Close &log");
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: \" run1.txt \"");
    OpenPty();
    Receive(Text("$GPGGA,1*00\r\n$GLGSV,9\r\n"));
    Receive(Frame(0x42, {1}));
    using namespace std::string_literals;
    Receive(Text("$PNSNR,2\0,3*00\r\n"s));  // a NUL is written as received and shown as U+FFFD
    EXPECT_EQ(FileText(path), "$GPGGA,1*00\r\n$PNSNR,2\0,3*00\r\n"s);  // on disk at once: flushed per line
    EXPECT_EQ(ShownLines().back(), "$PNSNR,2\uFFFD,3*00");

    FormMain->MenuFileLoggingClick();
    EXPECT_FALSE(FormMain->logging);
    EXPECT_EQ(FormMain->Action("MenuFileLogging")->text(), "&Logging");
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: none");
    Receive(Text("$GPVTG,not logged\r\n"));
    FormMain->MenuFileLoggingClick();
    EXPECT_EQ(FileText(path), "");
}

TEST_F(Logging, CancellingTheDialogChangesNothing) {
    Choose("");
    FormMain->MenuFileLoggingClick();
    EXPECT_FALSE(FormMain->logging);
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: none");
}

TEST_F(Logging, AFileThatCannotBeOpenedIsReportedAndLoggingStaysOff) {
    const std::string path = dir + "/missing/dir/log.txt";
    Choose(path);
    QString note;
    testsupport::ModalAcceptor acceptor(
        [&](QDialog* d) { note = static_cast<TFormNote*>(d)->Label()->text(); });
    FormMain->MenuFileLoggingClick();
    EXPECT_EQ(note.toStdString(), "Error opening log file " + path);
    EXPECT_FALSE(FormMain->logging);
    EXPECT_EQ(FormMain->Action("MenuFileLogging")->text(), "&Logging");
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: none");
}

TEST_F(Logging, AFailedWriteIsReportedOnceAndLoggingStops) {
    Choose("/dev/full");  // accepts the open, refuses every write
    FormMain->MenuFileLoggingClick();
    ASSERT_TRUE(FormMain->logging);
    int notes = 0;
    testsupport::ModalAcceptor acceptor([&](QDialog*) { ++notes; });
    OpenPty();
    Receive(Text("$GPGGA,1*00\r\n$GPGGA,2*00\r\n"));
    EXPECT_EQ(notes, 1);
    EXPECT_FALSE(FormMain->logging);
    EXPECT_EQ(FormMain->StatusPanel(1)->text(), "Logging: none");
    EXPECT_EQ(ShownLines().size(), 2u);  // the display goes on
}

TEST_F(Logging, LoggingGoesOnWhileTheDisplayIsPaused) {
    Choose(dir + "/paused.txt");
    FormMain->MenuFileLoggingClick();
    OpenPty();
    FormMain->MenuEditPauseClick();
    Receive(Text("$GPGGA,1*00\r\n$GPRMC,2*00\r\n"));
    EXPECT_EQ(FileText(dir + "/paused.txt"), "$GPGGA,1*00\r\n$GPRMC,2*00\r\n");
    EXPECT_TRUE(ShownLines().empty());
}

TEST_F(Logging, SaveDisplayAsWritesTheLinesShownOrSaysWhyNot) {
    FormMain->ShowLine("$GPGGA,1*00");
    FormMain->ShowLine("Proprietary ID 216");
    FormMain->MenuEditPauseClick();
    FormMain->ShowLine("$GPGGA,held*00");  // not shown, so not saved
    const std::string path = dir + "/display.txt";
    FormMain->chooseDisplayFile = [path] { return QString::fromStdString(path); };
    FormMain->MenuFileSaveDisplayClick();
    const std::string saved = FileText(path);
    EXPECT_EQ(saved, FormMain->Memo()->toPlainText().replace("\n", "\r\n").toStdString() + "\r\n");
    EXPECT_NE(saved.find(": $GPGGA,1*00\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("held"), std::string::npos);

    const std::string unwritable = dir + "/missing/display.txt";
    FormMain->chooseDisplayFile = [unwritable] { return QString::fromStdString(unwritable); };
    QString note;
    testsupport::ModalAcceptor acceptor(
        [&](QDialog* d) { note = static_cast<TFormNote*>(d)->Label()->text(); });
    FormMain->MenuFileSaveDisplayClick();
    EXPECT_EQ(note.toStdString(), "Error writing file " + unwritable);
}

}  // namespace
