// Recording and replay in the main window: what the port delivered is recorded, and replayed
// with no port open it shows and logs the same lines; a damaged file replays what is sound
// and says where it stopped; the status bar shows the recording and the replay's position.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "FormsFixture.h"
#include "proto/Frame.h"
#include "record/Recording.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"

namespace {
using Bytes = std::vector<uint8_t>;

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

QStringList MemoLines() {
    return FormMain->Memo()->toPlainText().split('\n', Qt::SkipEmptyParts);
}

class RecordingWindow : public FormsTest {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir);
        CreateWithDevices({pty.SlavePath()});
        FormMain->Timer()->stop();  // ticks are driven by the test
    }
    void TearDown() override {
        FormsTest::TearDown();
        std::filesystem::remove_all(dir);
    }
    void Receive(const std::string& text) {
        pty.SendFromFarEnd(Bytes(text.begin(), text.end()));
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            FormMain->TimerTimer();
        }
    }
    void Log(const std::string& path) {
        FormMain->chooseLogFile = [path] { return QString::fromStdString(path); };
        FormMain->MenuFileLoggingClick();
    }
    // Runs the replay's timer until the replay ends (bounded).
    void ReplayToEnd() {
        for (int i = 0; i < 2000 && FormMain->Replaying(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            FormMain->TimerTimer();
        }
        EXPECT_FALSE(FormMain->Replaying());
    }
    std::string File(const char* name) const { return dir + "/" + name; }

    std::string dir = std::filesystem::temp_directory_path() / ("lct-rec-ui-" + std::to_string(::getpid()));
    PtyPair pty;
};

TEST_F(RecordingWindow, AReplayShowsAndLogsWhatTheLiveRunShowedAndLogged) {
    const std::string recording = File("session.rec");
    FormMain->chooseRecordingFile = [&] { return QString::fromStdString(recording); };
    ASSERT_TRUE(Link().line.Open(pty.SlavePath(), 19200, 0));
    Link().line.SetBlocking(false);
    Log(File("live.txt"));
    FormMain->MenuFileRecordClick();
    ASSERT_TRUE(FormMain->Recording());
    EXPECT_EQ(FormMain->Action("MenuFileRecord")->text(), "Stop &Recording");
    Receive("$GPGGA,1*00\r\n$GLGSV,9\r\n");
    std::string frame(16, '\0');
    frame.resize(build_frame(0x42, reinterpret_cast<const uint8_t*>("abc"), 3,
                             reinterpret_cast<uint8_t*>(frame.data())));
    Receive(frame + "$PNSNR,2*00\r\n");
    EXPECT_TRUE(FormMain->RecordingPanel()->text().startsWith("Recording: session.rec "))
        << FormMain->RecordingPanel()->text().toStdString();
    FormMain->MenuFileRecordClick();
    FormMain->MenuFileLoggingClick();
    EXPECT_FALSE(FormMain->Recording());
    const QStringList live = MemoLines();
    ASSERT_EQ(live.size(), 3);

    // With the port open a replay is refused: the two streams would mix.
    QString note;
    {
        testsupport::ModalAcceptor acceptor(
            [&](QDialog* d) { note = static_cast<TFormNote*>(d)->Label()->text(); });
        EXPECT_FALSE(FormMain->StartReplay(QString::fromStdString(recording), 0));
    }
    EXPECT_EQ(note, "Close the port before replaying a recording.");
    Link().line.Close();

    FormMain->MenuEditClearClick();
    Log(File("replayed.txt"));
    FormMain->Action("MenuReplayFastest")->trigger();
    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(recording), 0));
    EXPECT_TRUE(FormMain->RecordingPanel()->text().startsWith("Replay: session.rec 00:00 of 00:00"));
    ReplayToEnd();
    FormMain->MenuFileLoggingClick();
    QStringList replayed = MemoLines();
    ASSERT_EQ(replayed.size(), 4);
    EXPECT_TRUE(replayed.takeLast().endsWith("Replay of session.rec ended (00:00)"));
    EXPECT_EQ(replayed, live) << "the same lines with the same time stamps";
    EXPECT_EQ(FileText(File("replayed.txt")), FileText(File("live.txt")));
    EXPECT_TRUE(FormMain->RecordingPanel()->isHidden());
}

// A tick takes at most its bound of what the line holds, and the next tick follows at once
// while more waits: a burst (a replay as fast as possible, a network line after a stall) is
// taken whole, and the window stays live meanwhile.
TEST_F(RecordingWindow, ABurstBeyondATicksBoundIsTakenByTheTicksThatFollowAtOnce) {
    const std::string sentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    std::string burst;
    while (burst.size() < TFormMain::kTickBytes + TFormMain::kTickBytes / 2) {
        burst += sentence;
    }
    Bytes file;
    AppendRecordingHeader(file, {19200, 0, "x"});
    AppendRecordingChunk(file, 0, reinterpret_cast<const uint8_t*>(burst.data()), burst.size());
    std::ofstream(File("burst.rec"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    FormMain->maxLines = 0;
    FormMain->Action("MenuReplayFastest")->trigger();
    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(File("burst.rec")), 0));
    FormMain->TimerTimer();
    const int sentences = static_cast<int>(burst.size() / sentence.size());
    EXPECT_LT(MemoLines().size(), sentences) << "a tick takes no more than its bound";
    EXPECT_EQ(FormMain->Timer()->interval(), 0) << "more waits: the next tick follows at once";
    FormMain->TimerTimer();
    EXPECT_EQ(MemoLines().filter(QStringLiteral("$GPGGA")).size(), sentences);
    ReplayToEnd();
    EXPECT_EQ(FormMain->Timer()->interval(), 100);
}

// The pace is chosen before a replay as during one and holds for the next, and File > Replay,
// open while a replay ends under it, stays usable: Escape closes it.
TEST_F(RecordingWindow, ThePaceIsChosenBeforeAReplayAndTheReplayMenuNeverSticks) {
    Bytes file;
    AppendRecordingHeader(file, {19200, 0, "x"});
    const std::string sentence = "$GPGGA,1*00\r\n";
    AppendRecordingChunk(file, 0, reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
    std::ofstream(File("short.rec"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    for (const char* pace : {"MenuReplayFastest", "MenuReplayRecordedPace", "MenuReplayTenTimes"}) {
        FormMain->Action(pace)->trigger();  // no replay runs
        EXPECT_TRUE(FormMain->Action(pace)->isChecked()) << pace;
    }
    EXPECT_FALSE(FormMain->Action("MenuReplayPause")->isEnabled());
    EXPECT_FALSE(FormMain->Action("MenuReplayStop")->isEnabled());
    FormMain->Action("MenuReplayFastest")->trigger();
    FormMain->show();
    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(File("short.rec")), 0));
    EXPECT_TRUE(FormMain->Action("MenuReplayStop")->isEnabled());
    auto* fileMenu = FormMain->findChild<QMenu*>(QStringLiteral("MenuFile"));
    auto* replayMenu = FormMain->findChild<QMenu*>(QStringLiteral("MenuReplay"));
    fileMenu->popup(FormMain->mapToGlobal(QPoint(10, 10)));
    replayMenu->popup(FormMain->mapToGlobal(QPoint(60, 40)));
    ReplayToEnd();
    EXPECT_TRUE(FormMain->Action("MenuReplayFastest")->isChecked()) << "the pace holds for the next";
    EXPECT_TRUE(replayMenu->isEnabled());
    for (int i = 0; i < 2 && QApplication::activePopupWidget() != nullptr; ++i) {
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    }
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(RecordingWindow, ADamagedRecordingReplaysWhatIsSoundThenSaysWhereItStopped) {
    Bytes file;
    AppendRecordingHeader(file, {19200, 0, "x"});
    const std::string sentence = "$GPGGA,1*00\r\n";
    AppendRecordingChunk(file, 0, reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
    const size_t cut = file.size();
    AppendRecordingChunk(file, 100, reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
    std::ofstream(File("cut.rec"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size() - 2));
    FormMain->Action("MenuReplayFastest")->trigger();
    ASSERT_TRUE(FormMain->StartReplay(QString::fromStdString(File("cut.rec")), 0));
    ReplayToEnd();
    const QStringList lines = MemoLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(
        QString::fromStdString("Replay of cut.rec stopped at 00:00: the file ends inside a chunk at byte " +
                               std::to_string(cut) + " after 00:00 of sound recording")))
        << lines[1].toStdString();
}

TEST_F(RecordingWindow, AReplayAtItsPaceShowsItsPositionPausesAndTakesPlainBytes) {
    Bytes file;
    AppendRecordingHeader(file, {19200, 0, "x"});
    const std::string sentence = "$GPGGA,1*00\r\n";
    AppendRecordingChunk(file, 0, reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
    AppendRecordingChunk(file, 300'000'000, reinterpret_cast<const uint8_t*>(sentence.data()),
                         sentence.size());
    std::ofstream(File("long.rec"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    FormMain->Action("MenuReplayRecordedPace")->trigger();
    FormMain->chooseReplayFile = [&] { return QString::fromStdString(File("long.rec")); };
    FormMain->MenuFileOpenRecordingClick();
    ASSERT_TRUE(FormMain->Replaying());
    FormMain->TimerTimer();
    EXPECT_EQ(MemoLines().size(), 1);
    EXPECT_EQ(FormMain->RecordingPanel()->text(), "Replay: long.rec 00:00 of 05:00");
    FormMain->Action("MenuReplayPause")->trigger();
    EXPECT_EQ(FormMain->RecordingPanel()->text(), "Replay: long.rec 00:00 of 05:00 (paused)");
    FormMain->TimerTimer();
    EXPECT_EQ(MemoLines().size(), 1) << "nothing comes while paused";
    EXPECT_EQ(FormMain->Timer()->interval(), 100) << "and nothing is taken at once";
    FormMain->Action("MenuReplayPause")->trigger();
    FormMain->Action("MenuReplayStop")->trigger();
    EXPECT_FALSE(FormMain->Replaying());
    EXPECT_TRUE(MemoLines().last().endsWith("Replay of long.rec stopped at 00:00"));

    // A plain capture is played at the line rate the user picks.
    std::ofstream(File("raw.bin"), std::ios::binary) << sentence << sentence;
    FormMain->chooseReplayFile = [&] { return QString::fromStdString(File("raw.bin")); };
    FormMain->choosePlainBaud = [] { return 115200u; };
    FormMain->MenuEditClearClick();
    FormMain->MenuFileOpenRecordingClick();
    ReplayToEnd();
    EXPECT_EQ(MemoLines().size(), 3);
}
}  // namespace
