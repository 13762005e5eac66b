#pragma once
// The receiver setup dialog: asks the receiver for its settings (message 216), shows them,
// and sends them back from the controls on Apply; the PC port follows a baud change. It is
// the one recipient of message 216 and passes every such frame on to the loading and
// calibration dialogs.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/Configmsg.h"

namespace Ui {
class TFormRcvrPort;
}
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

class TFormRcvrPort : public QDialog {
    Q_OBJECT
  public:
    // How Apply ended: sent, stopped by a validation note, or by a conversion error.
    enum class ApplyOutcome { Sent, Invalid, ConversionError };

    explicit TFormRcvrPort(QWidget* parent = nullptr);
    ~TFormRcvrPort() override;

    void ShowOver(const QRect& bounds);
    void RequestSettings();
    void CollectSettings();
    ApplyOutcome ApplySettings();
    void UpdateControls();
    void OnConfigMessage(const uint8_t* frame, int32_t length);

    void ButtonApplyClick();
    void ButtonOKClick();
    void ButtonCancelClick();
    void ButtonRequestClick();
    void ButtonAltClick();
    void ButtonDfltClick();
    // The settings Apply would send, to a setup file; a setup file's settings into the
    // controls (the user still presses Apply or OK). A refused file changes nothing.
    void ButtonSaveFileClick();
    void ButtonLoadFileClick();
    bool SaveSetupFile(const QString& fileName);
    bool LoadSetupFile(const QString& fileName);

    QComboBox* ComboBoxBaudRate() const;
    QComboBox* ComboBoxNavRate() const;
    QToolButton* Button(const char* name) const;
    QLineEdit* Edit(const char* name) const;
    QLabel* LabelTCMStatus() const;

    // Where configuration frames go after this dialog has read them (the loading dialog).
    std::function<void(const uint8_t* frame, int32_t length)> forwardToLoader;
    // How Save to File... and Load from File... ask for a file; tests replace them.
    std::function<QString()> chooseSaveFile;
    std::function<QString()> chooseLoadFile;

    ReceiverSettings settings;
    std::vector<int32_t> baudRates;
    bool positioned = false;
    bool RefreshPending = true;
    std::string softwareVersion;  // of the last configuration reply; empty before one

  private:
    ApplyControls ReadControls() const;
    void ShowNote(const QString& text);
    void FollowBaudChange();
    void AddFileButtons();
    void ShowControls(const ApplyControls& controls);

    Ui::TFormRcvrPort* ui;
    uint8_t frameBuffer_[1024] = {};
};

extern TFormRcvrPort* FormRcvrPort;
