#pragma once
// The main window: the 100 ms receive loop, the time-stamped message display, the menus
// that open every other window, the port and logging status, NMEA file logging, and the
// File menu's recording and replay (driving the recording and replay controller).
#include <QMainWindow>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "link/Reconnection.h"

#include "recplay/Recordreplay.h"
#include "ui/Mainaccess.h"
#include "ui/Trackexporter.h"

namespace Ui {
class TFormMain;
}
class CRLFProto;
class DiagProto;
class QLabel;
class QPlainTextEdit;
class LineAttempt;
class QTimer;

class TFormMain : public QMainWindow, public MainWindowAccess {
    Q_OBJECT
  public:
    // A tick takes at most this much of what the line holds; when more waits, the next tick
    // follows at once, so that a burst loses nothing and the window stays live.
    static constexpr uint32_t kTickBytes = 16 * 1024;

    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // The receive loop: reads what the line holds and hands every message on.
    void TimerTimer();
    void HandleDiagMessage(const DiagProto& diag);
    void HandleSentence(const CRLFProto& crlf);
    void ShowLine(const QString& text);
    // The link's port in status panel 0; the link's rate also becomes the port dialog's.
    void ShowPortState();
    void ShowPortState(const std::string& portName, int32_t baudRate, bool open) override;

    int32_t MessageCount() const override { return messageCount; }
    int32_t LastMessageId() const override { return lastMessageId; }
    QTimer* ReceiveTimer() const override { return timer_; }
    void SetPortUserActive(bool active) override;

    // Logging.
    void MenuFileLoggingClick();
    void ShowLogState();
    void LogLine(const std::string& sentence);

    // The display's commands. While the display is paused, lines still arrive, are counted
    // and logged, and wait, as many as the display holds, to be shown on resuming.
    void MenuFileSaveDisplayClick();
    void MenuEditCopyClick();
    void MenuEditSelectAllClick();
    void MenuEditClearClick();
    void MenuEditPauseClick();
    bool Paused() const { return paused_; }

    // Recording every received byte with its time, and replaying a recording into the
    // display, the status window and logging in place of a port (Recording.cpp).
    void MenuFileRecordClick();
    void MenuFileOpenRecordingClick();
    bool StartRecording(const QString& fileName);
    void StopRecording();
    bool Recording() const { return recordReplay_.Recording(); }
    // Replays the file; plainBaud paces a file that is not a recording (0: refuse such a file).
    bool StartReplay(const QString& fileName, uint32_t plainBaud);
    void StopReplay();
    bool Replaying() const { return recordReplay_.Replaying(); }
    // The pace of this replay and the next ones.
    void SetReplaySpeed(double speed);
    void PauseReplay(bool paused);
    void ShowRecordingState();
    QLabel* RecordingPanel() const { return recordPanel_; }

    // File > Export Track...: the track of the recording in hand (the one replayed or
    // recorded last), or of one the user chooses when there is none, written as GPX, KML or
    // CSV on a thread of its own; a note tells the outcome (Exporttrack.cpp).
    void MenuFileExportTrackClick();
    bool ExportingTrack() const;
    // The recording File > Export Track... takes: the one replayed or recorded last.
    QString TrackSource() const { return trackSource_; }

    void MenuFileExitClick();
    void MenuPortConfigureClick();
    void MenuPortCloseClick();
    void MenuRcvrPortClick();
    void MenuLoadClick();
    void MenuMDBClick();
    void MenuTCMClick();
    void MenuStatusClick();
    void MenuAccuracyClick();
    void MenuHelpContentsClick();
    void MenuHelpAboutClick();

    // How logging asks for a file name; tests replace it. Empty means cancelled.
    std::function<QString()> chooseLogFile;
    // How Save Display As asks for a file name; tests replace it. Empty means cancelled.
    std::function<QString()> chooseDisplayFile;
    // How Record... and Open Recording... ask for a file, and the line rate of a file that is
    // not a recording (0: cancelled); tests replace them.
    std::function<QString()> chooseRecordingFile;
    std::function<QString()> chooseReplayFile;
    std::function<uint32_t()> choosePlainBaud;
    // How Export Track... asks for a recording when none is in hand, and for the track file
    // (its extension names the format) for a recording; tests replace them.
    std::function<QString()> chooseTrackSource;
    std::function<QString(const QString& recording)> chooseTrackFile;

    QPlainTextEdit* Memo() const;
    QTimer* Timer() const { return timer_; }
    // Panels 0 (port) and 1 (logging), and 2, which reads "Paused" while the display is paused.
    QLabel* StatusPanel(int index) const {
        return index == 0 ? portPanel_ : index == 1 ? logPanel_ : pausePanel_;
    }
    QAction* Action(const char* name) const;

    int32_t maxLines = 0;
    std::string logFileName;
    std::FILE* logFile = nullptr;
    bool logging = false;
    int32_t messageCount = 0;
    int32_t lastMessageId = 0;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormShow();
    void FormClose();
    void BuildStatusBar();
    void ConnectMenus();
    void StartLogging(const QString& fileName);
    void StopLogging();
    QString RunSaveDialog(const QString& caption);
    void BuildConsole();
    void SaveDisplay(const QString& fileName);
    void BuildRecordingMenus();
    void RecordReceived(const uint8_t* bytes, size_t count, int64_t timeUs);
    void PollRecording();
    // Ends the replay when its line has played out or another took its place; true when one
    // was ended.
    bool EndReplayIfOver(bool played);
    void EndReplay(RecordReplay::Ending ending);
    void ShowReplayControls();
    // A network line lost while receiving comes back by itself: a try every two seconds,
    // beside the window's thread, until it opens or the user opens or closes a port.
    void BeginReconnect();
    void ContinueReconnect();
    void EndReconnect();
    void BuildExportMenu();
    void SetTrackSource(const QString& path, uint32_t plainBaud);
    void StartTrackExport(const TrackExportJob& job);
    void TrackExported(const TrackExportJob& job, const TrackExportOutcome& outcome);

    Ui::TFormMain* ui;
    QTimer* timer_;
    QLabel* portPanel_ = nullptr;
    QLabel* logPanel_ = nullptr;
    QLabel* pausePanel_ = nullptr;
    bool shownOnce_ = false;
    bool paused_ = false;
    std::deque<QString> heldLines_;  // stamped lines that arrived while paused
    RecordReplay recordReplay_;
    QLabel* recordPanel_ = nullptr;
    QString recordingFile_;  // the file being recorded
    QString trackSource_;
    uint32_t trackSourceBaud_ = 0;  // the line rate it was replayed at, when a plain capture
    TrackExporter* exporter_ = nullptr;
    int64_t feedTimeUs_ = 0;  // while the receive loop hands a message on: when its bytes arrived
    Reconnection reconnection_;
    std::unique_ptr<LineAttempt> reconnectAttempt_;
};

extern TFormMain* FormMain;
