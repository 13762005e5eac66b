#pragma once
// The port dialog: opens the link at a device and rate chosen by hand, or searches the
// devices and rates until the receiver answers. The search itself is PortSearch; this
// window shows it and supplies the port, the note and the wait windows.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Line.h"
#include "link/Portsearch.h"
#include "link/Regutils.h"

namespace Ui {
class TFormPort;
}
class QComboBox;
class QToolButton;

class TFormPort : public QDialog, private PortSearchHost {
    Q_OBJECT
  public:
    explicit TFormPort(QWidget* parent = nullptr);
    ~TFormPort() override;

    void ShowOver(const QRect& bounds);
    void SearchTick();

    void ButtonDeviceNameClick();
    void ButtonBaudRateClick();
    void ButtonApplyClick();
    void ButtonOKClick();
    void ButtonCancelClick();

    void ApplySettings();
    void ReadSelection();
    void StopSearch();

    bool Searching() const { return search_.Searching(); }

    // Remembers the link's device and rate for the next run's dialog.
    void StoreLinkChoice();

    // Runs when a search finds the receiver, with the index of the rate found.
    std::function<void(int)> onReceiverFound;

    QComboBox* ComboBoxDeviceName() const;
    QComboBox* ComboBoxBaudRate() const;
    QToolButton* Button(const char* name) const;

    StringDeque deviceList;
    std::vector<uint32_t> rateList;
    bool positioned = false;
    std::string selectedDeviceName;
    int32_t selectedBaudRate = 19200;

  private:
    // PortSearchHost
    bool OpenCandidate(const std::string& device, uint32_t rate) override;
    void CandidateOpenFailed(const std::string& device) override;
    void CandidateRateRefused(const std::string& device, const std::string& refusal) override;
    void CandidateOpened(int deviceIndex, int rateIndex) override;
    void SendProbe() override;
    int32_t MessageCount() override;
    int32_t LastMessageId() override;
    void SearchStopped() override;
    void ReceiverFound(int rateIndex) override;
    void ReceiverNotFound() override;

    void FillDeviceList();
    void WidenFieldsForAddresses();
    void ShowDeviceTip(const QString& text);
    void TakeTypedAddress();
    void SelectStartingChoice();
    void ShowNote(const QString& text);
    bool DeviceManual() const;
    bool RateManual() const;

    Ui::TFormPort* ui;
    PortSearch search_;
};

// The port list the dialog offers: devices named on the command line first (the first of
// them selected), then the system's list; on a system list that cannot be read, COM1 and
// COM2 (Windows) or nothing (elsewhere).
StringDeque PortDialogDevices(const std::vector<std::string>& commandLineDevices);

// "Error opening device " and the name; for a device the user may not open, with what the
// port says about its group and how to join it.
QString OpenErrorNote(const std::string& device, const Line& port);

// The devices named on the program's command line; set before the windows are created.
std::vector<std::string>& CommandLineDevices();

// Lists the system's serial ports for the dialog; tests replace it to control the list.
extern std::function<bool(StringDeque&)> SystemPortLister;

extern TFormPort* FormPort;
