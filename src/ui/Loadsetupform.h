#pragma once
// The "Load Software" dialog: shows the receiver's software version, takes an S-record
// file, runs the programming sequence and restores the port, the windows and the receiver's
// settings when the sequence ends. The sequence is LoadSequence.
//
// The sequence's ticks run on a thread of their own, so that the window answers while a load
// lasts. From Load until the sequence ends that thread owns the serial port and the link's
// rate: the main window's receive loop is stopped and the windows that use the port are
// disabled. What the sequence shows reaches this window as queued calls carrying copies of
// the values; the restore runs on the window's thread once the load's thread has finished.
#include <QDialog>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loader/Loadsequence.h"

namespace Ui {
class TFormLoadSetup;
}
class QLabel;
class QProgressBar;
class QPushButton;
class QPlainTextEdit;

class TFormLoadSetup : public QDialog {
    Q_OBJECT
  public:
    explicit TFormLoadSetup(QWidget* parent = nullptr);
    // Stops a running load and waits for its thread (the sequence stops at its next wait).
    ~TFormLoadSetup() override;

    void ShowOver(const QRect& bounds);
    void OnConfigMessage(const uint8_t* frame, int32_t length);

    void ButtonSoftwareFileClick();
    // Starts a load, or asks a running one to stop: it shows "Cancelled" and ends.
    void ButtonLoadClick();
    void ButtonDoneClick();
    void ButtonRequestClick();
    void ButtonHelpClick();

    bool TakeFileName();
    void UpdateVersionLabel();
    void UpdateVersionLabel(const ReceiverVersion& received);
    void ShowStatus(const std::string& text);
    void ShowStatusFor(int seconds, const std::string& text);
    void RequestVersion();
    bool ReopenPort(uint32_t baud);
    // Restores port, windows and receiver settings after a sequence.
    void EndSequence();
    // Ends a running load at once: stops the sequence, waits for its thread and restores. For
    // closing the program while a load runs.
    void StopLoad();

    // How the file is chosen; tests replace it. Empty means cancelled.
    std::function<QString()> chooseFile;
    // Called on the load's thread with each status of the sequence before it is posted to the
    // window, so that a test can act at an exact point of a load. Set it while no load runs.
    std::function<void(const std::string&)> statusWatcher;

    // From Load until the restore after the sequence's end.
    bool Running() const { return running_; }
    QLabel* LabelVersion() const;
    QPlainTextEdit* Memo() const;
    QProgressBar* ProgressBar() const;
    QWidget* PanelDoNotClose() const;
    QLabel* PanelLine(int line) const;
    QPushButton* Button(const char* name) const;
    void SetFileName(const QString& name);

  signals:
    // The sequence showed progress or the warning panel (emitted on the window's thread).
    void progressShown(int handled, int total);
    void panelShown();
    // The load's thread queued calls for the window (connected, queued, to run them).
    void sequenceCallsQueued();

  public:
    std::string fileName;
    ReceiverVersion version;
    uint32_t savedNmeaMask = 0;
    int32_t savedBaud = 19200;
    bool positioned = false;

    // Escape does nothing while a load runs (nor does a close request).
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class SequenceHost;

    void RunSequence();  // the load's thread
    void TimerTimer();   // one tick of the sequence, on the load's thread
    // From the load's thread: runs the call on the window's thread, in order.
    void Post(std::function<void()> call);
    void RunQueuedCalls();
    void SequenceEnded();
    void JoinSequence();
    void ShowProgress(int32_t handled, int32_t estimate);
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour);
    void HoldStatus(int seconds);
    void SetRunningState(bool running);
    void SetPortUsersActive(bool active);
    void SendRestoreSettings();
    QString RunOpenDialog();

    Ui::TFormLoadSetup* ui;
    std::unique_ptr<SequenceHost> host_;
    LoadSequence sequence_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::mutex queuedMutex_;
    std::vector<std::function<void()>> queued_;  // guarded by queuedMutex_
    bool running_ = false;
    bool calibrationPaused_ = false;
};

extern TFormLoadSetup* FormLoadSetup;
