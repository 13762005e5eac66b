#pragma once
// The "Load Software" dialog: shows the receiver's software version, takes an S-record
// file, runs the programming sequence on its timer and restores the port, the windows and
// the receiver's settings when the sequence ends. The sequence is LoadSequence; this window
// is its host.
#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/Serialport.h"
#include "loader/Loadsequence.h"

namespace Ui {
class TFormLoadSetup;
}
class QLabel;
class QProgressBar;
class QPushButton;
class QPlainTextEdit;
class QTimer;

class TFormLoadSetup : public QDialog, private LoaderHost {
    Q_OBJECT
  public:
    explicit TFormLoadSetup(QWidget* parent = nullptr);
    ~TFormLoadSetup() override;

    void ShowOver(const QRect& bounds);
    void OnConfigMessage(const uint8_t* frame, int32_t length);

    void ButtonSoftwareFileClick();
    void ButtonLoadClick();
    void ButtonDoneClick();
    void ButtonRequestClick();
    void ButtonHelpClick();
    void TimerTimer();

    bool TakeFileName();
    void UpdateVersionLabel();
    void ShowStatus(const std::string& text) override;
    void ShowStatusFor(int seconds, const std::string& text);
    void RequestVersion() override;
    bool ReopenPort(uint32_t baud) override;
    void EndSequence() override;

    // How the file is chosen; tests replace it. Empty means cancelled.
    std::function<QString()> chooseFile;

    bool Running() const { return sequence_.Running(); }
    const LoadSequence& Sequence() const { return sequence_; }
    QLabel* LabelVersion() const;
    QPlainTextEdit* Memo() const;
    QProgressBar* ProgressBar() const;
    QWidget* PanelDoNotClose() const;
    QLabel* PanelLine(int line) const;
    QPushButton* Button(const char* name) const;
    QTimer* Timer() const { return timer_; }
    void SetFileName(const QString& name);

  signals:
    // The sequence showed progress or the warning panel; it is inside a blocking turn, so a
    // receiver of these must not run the event loop.
    void progressShown(int handled, int total);
    void panelShown();

  public:
    std::string fileName;
    ReceiverVersion version;
    uint32_t savedNmeaMask = 0;
    int32_t savedBaud = 19200;
    bool positioned = false;

  private:
    // LoaderHost
    LoaderPort& Port() override { return port_; }
    void HoldStatus(int seconds) override;
    void ShowProgress(int32_t handled, int32_t estimate) override;
    uint32_t CurrentBaud() const override;
    void UpdateVersionLabel(const ReceiverVersion& received) override;
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour) override;
    bool DeviceGone() override;

    void SetRunningState(bool running);
    void SendRestoreSettings();
    QString RunOpenDialog();

    Ui::TFormLoadSetup* ui;
    QTimer* timer_;
    LoaderPortAdapter<SerialPort> port_;
    LoadSequence sequence_;
};

extern TFormLoadSetup* FormLoadSetup;
