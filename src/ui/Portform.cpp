#include "ui/Portform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <algorithm>

#include "link/Linefactory.h"
#include "link/Port.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "ui/Keyboard.h"
#include "ui/Lineopen.h"
#include "ui/Mainaccess.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"
#include "ui/Togglegroup.h"
#include "ui/Waitform.h"
#include "ui/Windowplaces.h"
#include "ui_Portform.h"

TFormPort* FormPort = nullptr;
std::function<bool(StringDeque&)> SystemPortLister = ListSerialPorts;

namespace {
// The longest network address the device field shows whole.
constexpr const char* kLongestAddress = "rfc2217://255.255.255.255:65535";
constexpr int kLineEditMargin = 4;  // pixels a line edit keeps free either side of its text
const char* const kDeviceHint =
    "A serial device, or a receiver on the network: rfc2217://HOST:PORT (the program may change its rate) "
    "or tcp://HOST:PORT (fixed rate)";
constexpr int kStartRateIndex = kSearchStartRateIndex;
constexpr auto kStartRate = static_cast<int32_t>(kSearchRates[kStartRateIndex]);
const std::vector<uint32_t> kRates(kSearchRates.begin(), kSearchRates.end());
}  // namespace

std::vector<std::string>& CommandLineDevices() {
    static std::vector<std::string> devices;
    return devices;
}

QString OpenErrorNote(const std::string& device, const Line& port) {
    QString note = QStringLiteral("Error opening device ") + QString::fromStdString(device);
    if (port.ErrorExplains()) {
        // What the user can do about it: the device's group and how to join it; or why the
        // network address did not answer.
        note += QStringLiteral("\n\n") + QString::fromStdString(port.LastErrorText());
    }
    return note;
}

StringDeque PortDialogDevices(const std::vector<std::string>& commandLineDevices) {
    StringDeque system;
    if (!SystemPortLister || !SystemPortLister(system)) {
        system.clear();
    }
#ifdef _WIN32
    if (system.empty()) {
        system = {"COM1", "COM2"};
    }
#endif
    StringDeque list(commandLineDevices.begin(), commandLineDevices.end());
    // A network address the user applied before stays on offer.
    if (const auto stored = StoredPortChoice();
        stored && IsTypedLineName(stored->device) &&
        std::find(list.begin(), list.end(), stored->device) == list.end()) {
        list.push_back(stored->device);
    }
    for (const std::string& name : system) {
        if (std::find(list.begin(), list.end(), name) == list.end()) {
            list.push_back(name);
        }
    }
    return list;
}

TFormPort::TFormPort(QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormPort), search_(*this, CurrentClock()) {
    ui->setupUi(this);
    connect(ui->ButtonDeviceNameAuto, &QToolButton::clicked, this, &TFormPort::ButtonDeviceNameClick);
    connect(ui->ButtonDeviceNameManual, &QToolButton::clicked, this, &TFormPort::ButtonDeviceNameClick);
    connect(ui->ButtonBaudRateAuto, &QToolButton::clicked, this, &TFormPort::ButtonBaudRateClick);
    connect(ui->ButtonBaudRateManual, &QToolButton::clicked, this, &TFormPort::ButtonBaudRateClick);
    connect(ui->ButtonApply, &QPushButton::clicked, this, &TFormPort::ButtonApplyClick);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFormPort::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFormPort::ButtonCancelClick);
    for (QToolButton* toggle : findChildren<QToolButton*>()) {
        ShowCheckedState(toggle);
    }

    WidenFieldsForAddresses();
    FitClientToControls(this);
    ui->ComboBoxDeviceName->lineEdit()->setPlaceholderText(QStringLiteral("rfc2217://HOST:PORT"));
    connect(ui->ComboBoxDeviceName, &QComboBox::editTextChanged, this, &TFormPort::ShowDeviceTip);
    ShowDeviceTip(QString());
    NameTogglesByRow(ui->Label1, {ui->ButtonDeviceNameAuto, ui->ButtonDeviceNameManual});
    NameTogglesByRow(ui->Label2, {ui->ButtonBaudRateAuto, ui->ButtonBaudRateManual});
    PrepareDialogKeys(this, ui->ComboBoxDeviceName, ui->ButtonOK);
    FillDeviceList();
    rateList = kRates;
    for (uint32_t rate : rateList) {
        ui->ComboBoxBaudRate->addItem(QString::number(rate), rate);
    }
    SelectStartingChoice();
    UpdatePortStatus();
    positioned = false;
}

// The first device at 19200, unless the last run applied another device or rate that is still
// offered. Devices named on the command line are what the user asks for now: the first of them
// stays selected.
void TFormPort::SelectStartingChoice() {
    int deviceIndex = deviceList.empty() ? -1 : 0;
    int rateIndex = kStartRateIndex;
    if (const auto stored = StoredPortChoice()) {
        const auto device = std::find(deviceList.begin(), deviceList.end(), stored->device);
        if (CommandLineDevices().empty() && device != deviceList.end()) {
            deviceIndex = static_cast<int>(device - deviceList.begin());
        }
        const auto rate =
            std::find(rateList.begin(), rateList.end(), static_cast<uint32_t>(stored->baudRate));
        if (rate != rateList.end()) {
            rateIndex = static_cast<int>(rate - rateList.begin());
        }
    }
    ui->ComboBoxDeviceName->setCurrentIndex(deviceIndex);
    ui->ComboBoxBaudRate->setCurrentIndex(rateIndex);
    LinkState& link = Link();
    selectedDeviceName = deviceIndex < 0 ? std::string() : deviceList[static_cast<size_t>(deviceIndex)];
    link.portName = selectedDeviceName;
    selectedBaudRate = static_cast<int32_t>(rateList[static_cast<size_t>(rateIndex)]);
    link.baudRate = selectedBaudRate;
}

void TFormPort::StoreLinkChoice() {
    StorePortChoice({Link().portName, Link().baudRate});
}

// The device and rate fields, one column, as wide as a network address needs in this font; the
// buttons below stay centred under the widened dialog.
void TFormPort::WidenFieldsForAddresses() {
    QComboBox* device = ui->ComboBoxDeviceName;
    QStyleOptionComboBox option;
    option.initFrom(device);
    option.editable = true;
    const QFontMetrics metrics = device->fontMetrics();
    const QSize text(metrics.horizontalAdvance(QLatin1String(kLongestAddress)) + 2 * kLineEditMargin,
                     metrics.height());
    const int width = device->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, device).width();
    const int grown = width - device->width();
    if (grown <= 0) {
        return;
    }
    for (QComboBox* field : {ui->ComboBoxDeviceName, ui->ComboBoxBaudRate}) {
        field->resize(width, field->height());
    }
    for (QPushButton* button : {ui->ButtonOK, ui->ButtonCancel, ui->ButtonApply}) {
        button->move(button->x() + grown / 2, button->y());
    }
}

// The whole device text, which the field may be too narrow for, above what the field takes.
void TFormPort::ShowDeviceTip(const QString& text) {
    const QString hint = QLatin1String(kDeviceHint);
    ui->ComboBoxDeviceName->setToolTip(text.isEmpty() ? hint : text + QStringLiteral("\n\n") + hint);
}

TFormPort::~TFormPort() {
    delete ui;
}

void TFormPort::FillDeviceList() {
    deviceList = PortDialogDevices(CommandLineDevices());
    for (const std::string& name : deviceList) {
        ui->ComboBoxDeviceName->addItem(QString::fromStdString(name));
    }
    ui->ComboBoxDeviceName->setCurrentIndex(deviceList.empty() ? -1 : 0);
}

QComboBox* TFormPort::ComboBoxDeviceName() const {
    return ui->ComboBoxDeviceName;
}
QComboBox* TFormPort::ComboBoxBaudRate() const {
    return ui->ComboBoxBaudRate;
}
QToolButton* TFormPort::Button(const char* name) const {
    return findChild<QToolButton*>(QString::fromLatin1(name));
}

bool TFormPort::DeviceManual() const {
    return ui->ButtonDeviceNameManual->isChecked();
}
bool TFormPort::RateManual() const {
    return ui->ButtonBaudRateManual->isChecked();
}

void TFormPort::ShowOver(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
    show();
    raise();
}

void TFormPort::ButtonDeviceNameClick() {
    ui->ComboBoxDeviceName->setEnabled(DeviceManual());
}
void TFormPort::ButtonBaudRateClick() {
    ui->ComboBoxBaudRate->setEnabled(RateManual());
}
void TFormPort::ButtonApplyClick() {
    ApplySettings();
}

void TFormPort::ButtonOKClick() {
    ApplySettings();
    hide();
}

void TFormPort::ButtonCancelClick() {
    hide();
}

void TFormPort::ShowNote(const QString& text) {
    if (FormNote != nullptr) {
        FormNote->ShowMessageOver(BoundsOf(this), text);
    }
}

// A network address typed into the device field joins the list and is selected.
void TFormPort::TakeTypedAddress() {
    const std::string typed = ui->ComboBoxDeviceName->currentText().trimmed().toStdString();
    if (!IsTypedLineName(typed)) {
        return;
    }
    auto found = std::find(deviceList.begin(), deviceList.end(), typed);
    if (found == deviceList.end()) {
        deviceList.push_back(typed);
        ui->ComboBoxDeviceName->addItem(QString::fromStdString(typed));
        found = deviceList.end() - 1;
    }
    ui->ComboBoxDeviceName->setCurrentIndex(static_cast<int>(found - deviceList.begin()));
}

void TFormPort::ReadSelection() {
    TakeTypedAddress();
    const int device = ui->ComboBoxDeviceName->currentIndex();
    if (device < 0 || device >= static_cast<int>(deviceList.size())) {
        ui->ComboBoxDeviceName->setCurrentIndex(deviceList.empty() ? -1 : 0);
        selectedDeviceName = deviceList.empty() ? std::string() : deviceList.front();
    } else {
        selectedDeviceName = deviceList[static_cast<size_t>(device)];
    }
    // A typed text that selects no rate falls back to the rate the dialog starts with.
    int rate = ui->ComboBoxBaudRate->currentIndex();
    if (rate < 0 || rate >= static_cast<int>(rateList.size()) ||
        ui->ComboBoxBaudRate->currentText() != ui->ComboBoxBaudRate->itemText(rate)) {
        rate = kStartRateIndex;
        ui->ComboBoxBaudRate->setCurrentIndex(rate);
    }
    selectedBaudRate = static_cast<int32_t>(rateList[static_cast<size_t>(rate)]);
}

void TFormPort::ApplySettings() {
    TakeTypedAddress();
    if (deviceList.empty()) {
        ShowNote(QStringLiteral("No serial ports found"));
        return;
    }
    ReadSelection();
    if (DeviceManual() && RateManual()) {
        LinkState& link = Link();
        link.line.SetBlocking(false);
        const bool opened = OpenLinkLine(selectedDeviceName, static_cast<uint32_t>(selectedBaudRate), this);
        if (!opened) {
            ShowNote(OpenErrorNote(selectedDeviceName, link.line));
        }
        link.portName = selectedDeviceName;
        link.baudRate = selectedBaudRate;
        UpdatePortStatus();
        if (opened) {
            StoreLinkChoice();
        }
        return;
    }
    const int deviceIndex = DeviceManual() ? ui->ComboBoxDeviceName->currentIndex() : 0;
    const int rateIndex = RateManual() ? ui->ComboBoxBaudRate->currentIndex() : 0;
    search_.Start(std::vector<std::string>(deviceList.begin(), deviceList.end()), rateList, DeviceManual(),
                  RateManual(), deviceIndex, rateIndex);
}

void TFormPort::SearchTick() {
    search_.Tick();
}

void TFormPort::StopSearch() {
    search_.Stop();
}

bool TFormPort::OpenCandidate(const std::string& device, uint32_t rate) {
    Link().line.SetBlocking(false);
    return OpenLinkLine(device, rate, this);
}

void TFormPort::CandidateOpenFailed(const std::string& device) {
    if (FormWait != nullptr) {
        FormWait->hide();  // the previous candidate's text no longer holds
    }
    ShowNote(OpenErrorNote(device, Link().line));
}

void TFormPort::CandidateRateRefused(const std::string& /*device*/, const std::string& refusal) {
    if (FormWait != nullptr) {
        FormWait->hide();
    }
    ShowNote(QString::fromStdString(refusal));
}

void TFormPort::CandidateOpened(int deviceIndex, int rateIndex) {
    LinkState& link = Link();
    link.portName = deviceList[static_cast<size_t>(deviceIndex)];
    link.baudRate = static_cast<int32_t>(rateList[static_cast<size_t>(rateIndex)]);
    ui->ComboBoxDeviceName->setCurrentIndex(deviceIndex);
    ui->ComboBoxBaudRate->setCurrentIndex(rateIndex);
    UpdatePortStatus();
    if (FormWait != nullptr) {
        FormWait->ShowWaitOver(BoundsOf(this), QStringLiteral("Attempting %1 at %2")
                                                   .arg(QString::fromStdString(link.portName))
                                                   .arg(link.baudRate));
        FormWait->SetCancelHandler([this] { StopSearch(); });
    }
}

void TFormPort::SendProbe() {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
    Link().line.Write(frame, length);
}

int32_t TFormPort::MessageCount() {
    return MainWindow() != nullptr ? MainWindow()->MessageCount() : 0;
}
int32_t TFormPort::LastMessageId() {
    return MainWindow() != nullptr ? MainWindow()->LastMessageId() : 0;
}

void TFormPort::SearchStopped() {
    if (FormWait != nullptr) {
        FormWait->hide();
        FormWait->SetCancelHandler(nullptr);
    }
}

void TFormPort::ReceiverFound(int rateIndex) {
    StoreLinkChoice();
    hide();
    if (onReceiverFound) {
        onReceiverFound(rateIndex);
    }
}

void TFormPort::ReceiverNotFound() {
    ShowNote(QStringLiteral("Failed to find unit."));
}
