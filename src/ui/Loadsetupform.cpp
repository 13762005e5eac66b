#include "ui/Loadsetupform.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "base/Clock.h"
#include "config/Configmsg.h"
#include "link/Port.h"
#include "loader/Portreopen.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "ui/Helpform.h"
#include "ui/Mainform.h"
#include "ui/Memoutils.h"
#include "ui/Portform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"
#include "ui/Windowplaces.h"
#include "ui_Loadsetupform.h"

TFormLoadSetup* FormLoadSetup = nullptr;

namespace {
constexpr int kPanelFontPixels = 16;
constexpr int kHoldStepMs = 50;
constexpr uint32_t kNormalBaud = 19200;
const char* const kFileFilter = "Lumacor Software (*.hex)|300*.hex;lc*.hex;LC*.hex;*.hex";

// The filter as the file dialog takes it: the description, then its patterns.
QString QtFilter() {
    const QString filter = QString::fromLatin1(kFileFilter);
    const QString description = filter.section('|', 0, 0);
    const QString patterns = filter.section('|', 1).replace(';', ' ');
    return description.left(description.indexOf('(')).trimmed() + " (" + patterns + ")";
}

void SetMainWindowActive(bool active) {
    if (FormMain == nullptr) {
        return;
    }
    // The main window's own controls, not the dialogs that belong to it.
    FormMain->menuBar()->setEnabled(active);
    FormMain->centralWidget()->setEnabled(active);
    if (active) {
        FormMain->Timer()->start();
    } else {
        FormMain->Timer()->stop();
    }
}
}  // namespace

TFormLoadSetup::TFormLoadSetup(QWidget* parent)
    : QDialog(parent),
      ui(new Ui::TFormLoadSetup),
      timer_(new QTimer(this)),
      port_(Link().serialPort),
      sequence_(*this) {
    ui->setupUi(this);
    // Minimise and maximise only: no close box while a load may be running.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    ui->ButtonSoftwareFile->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    for (QLabel* line : {ui->LabelDoNotClose, ui->Label2, ui->Label3}) {
        QFont font = line->font();
        font.setBold(true);
        font.setPixelSize(kPanelFontPixels);
        line->setFont(font);
    }
    ui->PanelDoNotClose->hide();
    timer_->setObjectName("Timer");
    connect(timer_, &QTimer::timeout, this, &TFormLoadSetup::TimerTimer);
    connect(ui->ButtonSoftwareFile, &QToolButton::clicked, this, &TFormLoadSetup::ButtonSoftwareFileClick);
    connect(ui->ButtonLoad, &QPushButton::clicked, this, &TFormLoadSetup::ButtonLoadClick);
    connect(ui->ButtonDone, &QPushButton::clicked, this, &TFormLoadSetup::ButtonDoneClick);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormLoadSetup::ButtonRequestClick);
    connect(ui->ButtonHelp, &QPushButton::clicked, this, &TFormLoadSetup::ButtonHelpClick);
    chooseFile = [this] { return RunOpenDialog(); };
}

TFormLoadSetup::~TFormLoadSetup() {
    delete ui;
}

QLabel* TFormLoadSetup::LabelVersion() const {
    return ui->LabelVersion;
}
QPlainTextEdit* TFormLoadSetup::Memo() const {
    return ui->Memo;
}
QProgressBar* TFormLoadSetup::ProgressBar() const {
    return ui->ProgressBar;
}
QWidget* TFormLoadSetup::PanelDoNotClose() const {
    return ui->PanelDoNotClose;
}
QLabel* TFormLoadSetup::PanelLine(int line) const {
    return line == 1 ? ui->LabelDoNotClose : line == 2 ? ui->Label2 : ui->Label3;
}
QPushButton* TFormLoadSetup::Button(const char* name) const {
    return findChild<QPushButton*>(QString::fromLatin1(name));
}
void TFormLoadSetup::SetFileName(const QString& name) {
    ui->EditFileName->setText(name);
}

void TFormLoadSetup::ShowOver(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
    ui->LabelVersion->setText(QStringLiteral("Not Known"));
    ui->PanelDoNotClose->hide();
    RequestVersion();
    ShowStatus("None");
    show();
    raise();
}

void TFormLoadSetup::OnConfigMessage(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length < frame::kOverhead || frame[frame::kIdOffset] != msgid::kConfig) {
        return;
    }
    const uint8_t* payload = frame + frame::kPayloadOffset;
    const auto payloadLength = static_cast<size_t>(length - frame::kOverhead);
    const auto received = DecodeVersion(payload, payloadLength);
    const auto mask = DecodeNmeaMask(payload, payloadLength);
    if (!received || !mask) {
        return;  // too short for the fields read
    }
    version = {received->major, received->minor, received->suffix};
    savedNmeaMask = *mask;
    UpdateVersionLabel();
}

QString TFormLoadSetup::RunOpenDialog() {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QtFilter());
    dialog.setOption(QFileDialog::ReadOnly);
    if (const QString folder = StoredFolder(FileFolder::Software); !folder.isEmpty()) {
        dialog.setDirectory(folder);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

void TFormLoadSetup::ButtonSoftwareFileClick() {
    const QString chosen = chooseFile ? chooseFile() : QString();
    if (!chosen.isEmpty()) {
        StoreFolderOf(FileFolder::Software, chosen);
        ui->EditFileName->setText(chosen);
        ui->ButtonLoad->setEnabled(true);
    }
    // Whatever the edit holds now must name an S-record file.
    if (ui->EditFileName->text().toLower().contains(QStringLiteral(".hex"))) {
        ui->ButtonLoad->setEnabled(true);
    } else {
        ui->EditFileName->setText(QStringLiteral("Invalid File Type"));
        ui->ButtonLoad->setEnabled(false);
    }
}

bool TFormLoadSetup::TakeFileName() {
    fileName = ui->EditFileName->text().toStdString();
    return true;
}

void TFormLoadSetup::ButtonLoadClick() {
    if (sequence_.Running()) {
        sequence_.Cancel();  // shows "Cancelled" and ends through EndSequence
        return;
    }
    if (!TakeFileName()) {
        return;
    }
    std::FILE* image = std::fopen(fileName.c_str(), "rb");
    if (image == nullptr) {
        ShowStatusFor(2, "Error opening file");
        return;
    }
    SetMainWindowActive(false);
    timer_->setInterval(1);
    timer_->start();
    SetRunningState(true);
    ShowPanel(
        {"Do Not Close Program, Do Not Remove", "Power from Receiver Until Programming", "is Complete!"},
        PanelColour::kRed);
    savedBaud = FormPort != nullptr ? FormPort->selectedBaudRate : static_cast<int32_t>(kNormalBaud);
    sequence_.Start(image);
}

void TFormLoadSetup::SetRunningState(bool running) {
    ui->ButtonLoad->setEnabled(!running);
    ui->ButtonDone->setEnabled(!running);
    ui->ButtonRequest->setEnabled(!running);
    SetStaysOnTop(this, running);
}

void TFormLoadSetup::ButtonDoneClick() {
    if (sequence_.Running()) {
        return;  // the button is disabled while a sequence runs
    }
    timer_->stop();
    hide();
}

void TFormLoadSetup::ButtonRequestClick() {
    RequestVersion();
}

void TFormLoadSetup::ButtonHelpClick() {
    if (FormHelp != nullptr) {
        FormHelp->ShowLoadingHelp(BoundsOf(this));
    }
}

void TFormLoadSetup::TimerTimer() {
    sequence_.Tick();
}

void TFormLoadSetup::UpdateVersionLabel() {
    ui->LabelVersion->setText(QStringLiteral("%1.%2%3")
                                  .arg(version.major)
                                  .arg(version.minor)
                                  .arg(QString::fromLatin1(version.suffix.c_str())));
}

void TFormLoadSetup::UpdateVersionLabel(const ReceiverVersion& received) {
    version = received;
    UpdateVersionLabel();
}

void TFormLoadSetup::ShowStatus(const std::string& text) {
    ui->Memo->clear();
    AddLine(QString::fromStdString(text), ui->Memo, 1);
    // The sequence blocks between ticks: paint now so that every message is seen.
    ui->Memo->viewport()->repaint();
    ui->ProgressBar->repaint();
}

void TFormLoadSetup::ShowStatusFor(int seconds, const std::string& text) {
    ShowStatus(text);
    HoldStatus(seconds);
}

void TFormLoadSetup::HoldStatus(int seconds) {
    Clock& clock = CurrentClock();
    const int64_t until = clock.NowSeconds() + seconds;
    while (clock.NowSeconds() < until) {
        repaint();
        clock.SleepMs(kHoldStepMs);
    }
}

void TFormLoadSetup::ShowProgress(int32_t handled, int32_t estimate) {
    ui->ProgressBar->setMaximum(std::max(estimate, 1));
    ui->ProgressBar->setValue(std::clamp(handled, 0, std::max(estimate, 1)));
    ui->ProgressBar->repaint();
    emit progressShown(ui->ProgressBar->value(), ui->ProgressBar->maximum());
}

uint32_t TFormLoadSetup::CurrentBaud() const {
    return static_cast<uint32_t>(Link().baudRate);
}

void TFormLoadSetup::RequestVersion() {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
    Link().serialPort.Write(frame, length);
}

bool TFormLoadSetup::ReopenPort(uint32_t baud) {
    LinkState& link = Link();
    const bool opened = ReopenPortAt(link.serialPort, link.portName, link.baudRate, baud, CurrentClock());
    if (opened) {
        link.baudRate = static_cast<int32_t>(baud);
    }
    UpdatePortStatus();  // a port that could not be opened again shows as closed
    return opened;
}

bool TFormLoadSetup::DeviceGone() {
    return !Link().serialPort.IsOpen();
}

void TFormLoadSetup::ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour) {
    const QString style =
        colour == PanelColour::kRed ? QStringLiteral("color: #ff0000;") : QStringLiteral("color: #0000ff;");
    for (int i = 0; i < 3; ++i) {
        QLabel* line = PanelLine(i + 1);
        line->setText(QString::fromStdString(lines[static_cast<size_t>(i)]));
        line->setStyleSheet(style);
    }
    ui->PanelDoNotClose->show();
    ui->PanelDoNotClose->raise();
    ui->PanelDoNotClose->repaint();
    emit panelShown();
}

void TFormLoadSetup::SendRestoreSettings() {
    const int32_t baud = FormPort != nullptr ? FormPort->selectedBaudRate : static_cast<int32_t>(kNormalBaud);
    uint8_t frame[config::kFrameLength];
    const uint16_t length = BuildConfigFrame(EncodeNmeaAndBaud(savedNmeaMask, baud), frame);
    Link().serialPort.Write(frame, length);
}

void TFormLoadSetup::EndSequence() {
    if (Link().baudRate == static_cast<int32_t>(LoadSequence::kFastBaud)) {
        ReopenPort(kNormalBaud);
    }
    SetMainWindowActive(true);
    timer_->stop();
    ui->ButtonLoad->setText(QStringLiteral("Load"));
    SetRunningState(false);
    ui->PanelDoNotClose->hide();
    if (savedBaud != static_cast<int32_t>(kNormalBaud)) {
        ReopenPort(static_cast<uint32_t>(savedBaud));
    }
    SendRestoreSettings();
    RequestVersion();
    UpdateVersionLabel();
}
