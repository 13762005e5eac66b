#include "ui/Rcvrportform.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>

#include "base/Clock.h"
#include "config/Setupfile.h"
#include "link/Port.h"
#include "proto/Frame.h"
#include "proto/Linerates.h"
#include "proto/Messages.h"
#include "ui/Keyboard.h"
#include "ui/Msgrouting.h"
#include "ui/Noteform.h"
#include "ui/Portform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Togglegroup.h"
#include "ui/Windowplaces.h"
#include "ui_Rcvrportform.h"

TFormRcvrPort* FormRcvrPort = nullptr;

namespace {
constexpr int kDefaultBaudIndex = 2;  // 19200
constexpr int kFastRateIndex = 1;     // "5"
constexpr int32_t kFastRate = 5;
constexpr int64_t kBaudSwitchDelayMs = 200;

struct MaskButton {
    const char* name;
    uint32_t bit;
};
constexpr MaskButton kMaskButtons[] = {
    {"ButtonGGA", config::kMaskGGA}, {"ButtonGSA", config::kMaskGSA}, {"ButtonZDA", config::kMaskZDA},
    {"ButtonVTG", config::kMaskVTG}, {"ButtonRMC", config::kMaskRMC}, {"ButtonSNR", config::kMaskSNR},
};

void SetDown(QToolButton* down, QToolButton* up, bool firstDown) {
    down->setChecked(firstDown);
    up->setChecked(!firstDown);
}
}  // namespace

TFormRcvrPort::TFormRcvrPort(QWidget* parent) : QDialog(parent), ui(new Ui::TFormRcvrPort) {
    ui->setupUi(this);
    for (const MaskButton& b : kMaskButtons) {
        Button(b.name)->setCheckable(true);  // each its own group: toggles independently
    }
    MakeAllUpGroup({ui->ButtonWAASON, ui->ButtonWAASOFF});
    MakeAllUpGroup({ui->ButtonCorrectionsOn, ui->ButtonCorrectionsOff});
    MakeAllUpGroup({ui->ButtonDflt, ui->ButtonAlt});
    MakeAllUpGroup({ui->ButtonTCMOn, ui->ButtonTCMOff});
    MakeAllUpGroup({ui->ButtonTCMForward, ui->ButtonTCMBackward});
    for (QToolButton* toggle : findChildren<QToolButton*>()) {
        ShowCheckedState(toggle);
    }
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFormRcvrPort::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFormRcvrPort::ButtonCancelClick);
    connect(ui->ButtonApply, &QPushButton::clicked, this, &TFormRcvrPort::ButtonApplyClick);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormRcvrPort::ButtonRequestClick);
    connect(ui->ButtonAlt, &QToolButton::clicked, this, &TFormRcvrPort::ButtonAltClick);
    connect(ui->ButtonDflt, &QToolButton::clicked, this, &TFormRcvrPort::ButtonDfltClick);

    settings = ReceiverSettings{};
    baudRates.assign(kReceiverRates.begin(), kReceiverRates.end());
    for (int32_t rate : baudRates) {
        ui->ComboBoxBaudRate->addItem(QString::number(rate));
    }
    ui->ComboBoxBaudRate->setCurrentIndex(kDefaultBaudIndex);
    ui->ComboBoxNavRate->setCurrentIndex(0);
    UpdateControls();
    RegisterRecipient(msgid::kConfig,
                      {this, [this](const uint8_t* f, int32_t n) { OnConfigMessage(f, n); }, 0});
    ui->PanelBinMsgs->hide();
    ui->PanelBottom->move(ui->PanelBottom->x(), ui->PanelBinMsgs->y());
    AddFileButtons();
    FitClientToControls(this);
    LabelToggleRow(ui->LabelRow3, {ui->ButtonGGA, ui->ButtonGSA, ui->ButtonVTG, ui->ButtonZDA, ui->ButtonRMC,
                                   ui->ButtonSNR});
    LabelToggleRow(ui->LabelRow4, {ui->ButtonWAASON, ui->ButtonWAASOFF});
    LabelToggleRow(ui->LabelRow5, {ui->ButtonCorrectionsOn, ui->ButtonCorrectionsOff});
    LabelToggleRow(ui->LabelRow6, {ui->ButtonDflt, ui->ButtonAlt});
    LabelToggleRow(ui->LabelRow8, {ui->ButtonTCMOn, ui->ButtonTCMOff});
    LabelToggleRow(ui->LabelRow11, {ui->ButtonTCMForward, ui->ButtonTCMBackward});
    PrepareDialogKeys(this, ui->ComboBoxBaudRate, ui->ButtonOK);
}

TFormRcvrPort::~TFormRcvrPort() {
    RegisterRecipient(msgid::kConfig, {});
    delete ui;
}

QComboBox* TFormRcvrPort::ComboBoxBaudRate() const {
    return ui->ComboBoxBaudRate;
}
QComboBox* TFormRcvrPort::ComboBoxNavRate() const {
    return ui->ComboBoxNavRate;
}
QToolButton* TFormRcvrPort::Button(const char* name) const {
    return findChild<QToolButton*>(QString::fromLatin1(name));
}
QLineEdit* TFormRcvrPort::Edit(const char* name) const {
    return findChild<QLineEdit*>(QString::fromLatin1(name));
}
QLabel* TFormRcvrPort::LabelTCMStatus() const {
    return ui->LabelTCMStatus;
}

void TFormRcvrPort::ShowOver(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
    RequestSettings();
    show();
    raise();
}

void TFormRcvrPort::RequestSettings() {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
    Link().line.Write(frame, length);
    RefreshPending = true;
}

void TFormRcvrPort::ButtonRequestClick() {
    RequestSettings();
}
void TFormRcvrPort::ButtonApplyClick() {
    ApplySettings();
}

void TFormRcvrPort::ButtonOKClick() {
    // A validation note still closes the dialog; a conversion error keeps it open.
    if (ApplySettings() != ApplyOutcome::ConversionError) {
        hide();
    }
}

void TFormRcvrPort::ButtonCancelClick() {
    hide();
}
void TFormRcvrPort::ButtonAltClick() {
    ui->EditChannelNum->setEnabled(true);
}
void TFormRcvrPort::ButtonDfltClick() {
    ui->EditChannelNum->setEnabled(false);
}

void TFormRcvrPort::CollectSettings() {
    settings.NmeaMask = 0;
    for (const MaskButton& b : kMaskButtons) {
        if (Button(b.name)->isChecked()) {
            settings.NmeaMask |= b.bit;
        }
    }
    // A typed text that selects no entry is sent as 19200, and the combo shows it.
    QComboBox* baud = ui->ComboBoxBaudRate;
    int index = baud->currentIndex();
    if (index < 0 || index >= static_cast<int>(baudRates.size()) ||
        baud->currentText() != baud->itemText(index)) {
        index = kDefaultBaudIndex;
        baud->setCurrentIndex(index);
        baud->setEditText(baud->itemText(index));
    }
    settings.BaudRate = baudRates[static_cast<size_t>(index)];
    settings.NmeaRate = ui->ComboBoxNavRate->currentIndex() == kFastRateIndex ? kFastRate : 1;
}

ApplyControls TFormRcvrPort::ReadControls() const {
    ApplyControls c;
    c.nmeaMask = settings.NmeaMask;
    c.baudRate = settings.BaudRate;
    c.nmeaRate = settings.NmeaRate;
    c.heightText = ui->EditLCHeight->text().toStdString();
    c.foreAftText = ui->EditLCForeAft->text().toStdString();  // read even while disabled
    c.altDown = ui->ButtonAlt->isChecked();
    c.channelText = ui->EditChannelNum->text().toStdString();
    c.waasOnDown = ui->ButtonWAASON->isChecked();
    c.correctionsOnDown = ui->ButtonCorrectionsOn->isChecked();
    c.tcmOnDown = ui->ButtonTCMOn->isChecked();
    c.forwardDown = ui->ButtonTCMForward->isChecked();
    return c;
}

void TFormRcvrPort::ShowNote(const QString& text) {
    if (FormNote != nullptr) {
        FormNote->ShowMessageOver(BoundsOf(this), text);
    }
}

TFormRcvrPort::ApplyOutcome TFormRcvrPort::ApplySettings() {
    CollectSettings();
    const ApplyResult result = EncodeApply(ReadControls());
    if (result.conversionError) {
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(result.error));
        return ApplyOutcome::ConversionError;
    }
    if (!result.payload) {
        ShowNote(QString::fromStdString(result.error));
        return ApplyOutcome::Invalid;
    }
    // A fixed-rate line could not follow the receiver: refused before the receiver hears of it.
    if (settings.BaudRate != Link().baudRate && !Link().line.CanChangeRate()) {
        ShowNote(QString::fromStdString(Link().line.RateRefusal()));
        return ApplyOutcome::Invalid;
    }
    const uint16_t length = BuildConfigFrame(*result.payload, frameBuffer_);
    Link().line.Write(frameBuffer_, length);
    CurrentClock().SleepMs(kBaudSwitchDelayMs);  // the receiver answers at its old rate first
    FollowBaudChange();
    RefreshPending = true;
    return ApplyOutcome::Sent;
}

void TFormRcvrPort::FollowBaudChange() {
    LinkState& link = Link();
    if (settings.BaudRate == link.baudRate) {
        return;
    }
    if (!link.line.SetBaudRate(static_cast<uint32_t>(settings.BaudRate))) {
        ShowNote(QStringLiteral("Error changing baud rate"));
        return;
    }
    link.baudRate = settings.BaudRate;
    UpdatePortStatus();
    if (FormPort != nullptr) {
        FormPort->ComboBoxBaudRate()->setCurrentIndex(ui->ComboBoxBaudRate->currentIndex());
        FormPort->StoreLinkChoice();  // the receiver now answers at this rate
    }
}

void TFormRcvrPort::OnConfigMessage(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length < frame::kOverhead) {
        return;
    }
    const uint8_t* payload = frame + frame::kPayloadOffset;
    const size_t payloadLength = static_cast<size_t>(length) - frame::kOverhead;
    if (frame[frame::kIdOffset] == msgid::kConfig) {
        if (const auto version = DecodeVersion(payload, payloadLength)) {
            softwareVersion = version->Text();
        }
        if (const auto received = DecodeConfigReply(payload, payloadLength, Link().baudRate)) {
            settings = *received;
            if (RefreshPending) {
                UpdateControls();
                RefreshPending = false;
            }
        }
    }
    if (forwardToLoader) {
        forwardToLoader(frame, length);
    }
    if (payloadLength > config::kCalibrationCommand && payload[config::kCalibrationCommand] != 0 &&
        FormTCMCalibStatus != nullptr) {
        FormTCMCalibStatus->OnCalibrationMessage(frame, length);
    }
}

void TFormRcvrPort::UpdateControls() {
    for (const MaskButton& b : kMaskButtons) {
        Button(b.name)->setChecked((settings.NmeaMask & b.bit) != 0);
    }
    SetDown(ui->ButtonWAASON, ui->ButtonWAASOFF, settings.WaasOn != 0);
    SetDown(ui->ButtonCorrectionsOn, ui->ButtonCorrectionsOff, settings.CorrectionsOff == 0);
    SetDown(ui->ButtonAlt, ui->ButtonDflt, settings.AltFreq != 0);
    if (settings.AltFreq != 0) {
        ui->EditChannelNum->setText(QString::fromStdString(FormatGeneral(ChannelToMHz(settings.Channel))));
        ui->EditChannelNum->setEnabled(true);
    } else {
        ui->EditChannelNum->clear();
        ui->EditChannelNum->setEnabled(false);
    }
    const auto found = std::find(baudRates.begin(), baudRates.end(), settings.BaudRate);
    if (found == baudRates.end()) {
        ui->ComboBoxBaudRate->setCurrentIndex(kDefaultBaudIndex);
        settings.BaudRate = baudRates[kDefaultBaudIndex];
    } else {
        ui->ComboBoxBaudRate->setCurrentIndex(static_cast<int>(found - baudRates.begin()));
    }
    ui->ComboBoxNavRate->setCurrentIndex(settings.NmeaRate == kFastRate ? kFastRateIndex : 0);
    SetDown(ui->ButtonTCMOn, ui->ButtonTCMOff, settings.TcmOn != 0);
    ui->EditLCHeight->setText(QString::number(settings.LcHeight));
    ui->EditLCForeAft->setText(QString::number(settings.LcForeAft));
    ui->EditLCForeAft->setEnabled(settings.ForeAftEditable != 0);
    SetDown(ui->ButtonTCMForward, ui->ButtonTCMBackward, settings.TcmForward != 0);
    ui->LabelTCMStatus->setText(settings.TcmCalibrated != 0
                                    ? QStringLiteral("(TCM Level Calibration Status:  Done)")
                                    : QStringLiteral("(TCM Level Calibration Status:  Not Done)"));
}

// A row under OK, Cancel, Apply and Request: the setup as a file.
void TFormRcvrPort::AddFileButtons() {
    constexpr int kRowGap = 6;
    const QRect below = ui->ButtonOK->geometry().translated(0, ui->ButtonOK->height() + kRowGap);
    const int width = ui->ButtonApply->geometry().left() - kRowGap - below.left();
    auto* save = new QPushButton(QStringLiteral("&Save to File..."), ui->PanelBottom);
    save->setObjectName("ButtonSaveFile");
    save->setGeometry(below.left(), below.top(), width, below.height());
    auto* load = new QPushButton(QStringLiteral("&Load from File..."), ui->PanelBottom);
    load->setObjectName("ButtonLoadFile");
    load->setGeometry(ui->ButtonApply->x(), below.top(),
                      ui->ButtonRequest->geometry().right() - ui->ButtonApply->x() + 1, below.height());
    for (QPushButton* button : {save, load}) {
        button->setAutoDefault(false);
    }
    ui->PanelBottom->resize(ui->PanelBottom->width(), below.bottom() + 1);
    connect(save, &QPushButton::clicked, this, &TFormRcvrPort::ButtonSaveFileClick);
    connect(load, &QPushButton::clicked, this, &TFormRcvrPort::ButtonLoadFileClick);
    const QString filter = QStringLiteral("Receiver setup (*.json);;All files (*)");
    chooseSaveFile = [this, filter] {
        QFileDialog dialog(this, QStringLiteral("Save Setup to File"), StoredFolder(FileFolder::Records),
                           filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("json"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().front()
                   : QString();
    };
    chooseLoadFile = [this, filter] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Load Setup from File"),
                                            StoredFolder(FileFolder::Records), filter);
    };
}

void TFormRcvrPort::ButtonSaveFileClick() {
    const QString chosen = chooseSaveFile ? chooseSaveFile() : QString();
    if (!chosen.isEmpty()) {
        StoreFolderOf(FileFolder::Records, chosen);
        SaveSetupFile(chosen);
    }
}

void TFormRcvrPort::ButtonLoadFileClick() {
    const QString chosen = chooseLoadFile ? chooseLoadFile() : QString();
    if (!chosen.isEmpty()) {
        StoreFolderOf(FileFolder::Records, chosen);
        LoadSetupFile(chosen);
    }
}

bool TFormRcvrPort::SaveSetupFile(const QString& fileName) {
    CollectSettings();
    std::string error;
    const auto text = WriteSetupFile(ReadControls(), softwareVersion, CurrentClock().NowSeconds(), error);
    if (!text) {
        ShowNote(QString::fromStdString(error));  // what Apply would refuse is not saved
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text->data(), static_cast<qint64>(text->size())) != static_cast<qint64>(text->size()) ||
        !file.flush()) {
        ShowNote(QStringLiteral("Error writing setup file ") + fileName);
        return false;
    }
    return true;
}

bool TFormRcvrPort::LoadSetupFile(const QString& fileName) {
    const SetupRead read = ReadSetupFileFrom(fileName.toStdString());
    if (!read.file) {
        // A file that cannot be read is named in full, one that was refused by its name alone.
        const QString name = read.unreadable ? fileName : QFileInfo(fileName).fileName();
        ShowNote(QString::fromStdString(SetupReadMessage(read, name.toStdString())));
        return false;
    }
    ShowControls(read.file->controls);
    RefreshPending = false;  // a late reply must not overwrite what was loaded
    return true;
}

void TFormRcvrPort::ShowControls(const ApplyControls& c) {
    for (const MaskButton& b : kMaskButtons) {
        Button(b.name)->setChecked((c.nmeaMask & b.bit) != 0);
    }
    const auto found = std::find(baudRates.begin(), baudRates.end(), c.baudRate);
    if (found != baudRates.end()) {
        ui->ComboBoxBaudRate->setCurrentIndex(static_cast<int>(found - baudRates.begin()));
    }
    ui->ComboBoxNavRate->setCurrentIndex(c.nmeaRate == kFastRate ? kFastRateIndex : 0);
    SetDown(ui->ButtonWAASON, ui->ButtonWAASOFF, c.waasOnDown);
    SetDown(ui->ButtonCorrectionsOn, ui->ButtonCorrectionsOff, c.correctionsOnDown);
    SetDown(ui->ButtonAlt, ui->ButtonDflt, c.altDown);
    ui->EditChannelNum->setText(QString::fromStdString(
        c.altDown ? FormatGeneral(ChannelToMHz(MHzToChannel(c.channelText))) : std::string()));
    ui->EditChannelNum->setEnabled(c.altDown);
    SetDown(ui->ButtonTCMOn, ui->ButtonTCMOff, c.tcmOnDown);
    SetDown(ui->ButtonTCMForward, ui->ButtonTCMBackward, c.forwardDown);
    ui->EditLCHeight->setText(QString::fromStdString(c.heightText));
    ui->EditLCForeAft->setText(QString::fromStdString(c.foreAftText));
}
