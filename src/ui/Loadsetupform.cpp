#include "ui/Loadsetupform.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
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
#include "loader/Srec.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "ui/Helpform.h"
#include "ui/Keyboard.h"
#include "ui/Mainaccess.h"
#include "ui/Mdbform.h"
#include "ui/Memoutils.h"
#include "ui/Portform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Windowplaces.h"
#include "ui_Loadsetupform.h"

TFormLoadSetup* FormLoadSetup = nullptr;

namespace {
constexpr int kPanelFontPixels = 16;
constexpr int kHoldStepMs = 50;
constexpr int kTickPauseMs = 1;  // between two ticks of the sequence: the loading timer's interval
constexpr uint32_t kNormalBaud = 19200;
const char* const kFileFilter = "Lumacor Software (*.hex)|300*.hex;lc*.hex;LC*.hex;*.hex";

// The filter as the file dialog takes it: the description, then its patterns.
QString QtFilter() {
    const QString filter = QString::fromLatin1(kFileFilter);
    const QString description = filter.section('|', 0, 0);
    const QString patterns = filter.section('|', 1).replace(';', ' ');
    return description.left(description.indexOf('(')).trimmed() + " (" + patterns + ")";
}

// Closes and opens the link's port at the rate. The link's rate becomes the rate tried, opened
// or not: it tells the port in use or last tried.
bool ReopenLinkAt(uint32_t baud) {
    LinkState& link = Link();
    const bool opened = ReopenPortAt(link.line, link.portName, link.baudRate, baud, CurrentClock());
    link.baudRate = static_cast<int32_t>(baud);
    return opened;
}

// Reads the whole image and says what is wrong with it, as lctrovi load --check does; empty for
// a sound one, which is then at its start again.
std::string ImageFault(std::FILE* image, const std::string& name) {
    SrecFileLines lines(image);
    const SrecScan scan = srec_scan(lines);
    std::rewind(image);
    return scan.Ok() ? std::string() : scan.FaultText(name) + " " + loadtext::kInputError;
}

// Asks the receiver for its configuration message, which carries the software version.
void WriteVersionRequest() {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
    Link().line.Write(frame, length);
}

}  // namespace

// The sequence's host on the load's thread. It uses the port and the link's rate, which the
// load owns while it runs; everything it shows goes to the window as a queued call with
// copies of the values.
class TFormLoadSetup::SequenceHost final : public LoaderHost {
  public:
    explicit SequenceHost(TFormLoadSetup& form) : form_(form), port_(Link().line) {}

    LoaderPort& Port() override { return port_; }
    void ShowStatus(const std::string& text) override {
        if (form_.statusWatcher) {
            form_.statusWatcher(text);
        }
        Post([form = &form_, text] { form->ShowStatus(text); });
    }
    void ShowProgress(int32_t handled, int32_t estimate) override {
        Post([form = &form_, handled, estimate] { form->ShowProgress(handled, estimate); });
    }
    bool ReopenPort(uint32_t baud) override {
        const bool opened = ReopenLinkAt(baud);
        // The status bar only: the port dialog keeps the rate the user chose.
        Post([name = Link().portName, baud, opened] {
            if (MainWindow() != nullptr) {
                MainWindow()->ShowPortState(name, static_cast<int32_t>(baud), opened);
            }
        });
        return opened;
    }
    uint32_t CurrentBaud() const override { return static_cast<uint32_t>(Link().baudRate); }
    void RequestVersion() override { WriteVersionRequest(); }
    void UpdateVersionLabel(const ReceiverVersion& version) override {
        Post([form = &form_, version] { form->UpdateVersionLabel(version); });
    }
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour) override {
        Post([form = &form_, lines, colour] { form->ShowPanel(lines, colour); });
    }
    bool DeviceGone() override { return !Link().line.IsOpen(); }
    bool StopRequested() override { return form_.stopRequested_.load(); }
    // The window restores once the load's thread has finished (SequenceEnded).
    void EndSequence() override {}

  private:
    void Post(std::function<void()> call) { form_.Post(std::move(call)); }

    TFormLoadSetup& form_;
    LoaderPortAdapter<AnyLine> port_;
};

TFormLoadSetup::TFormLoadSetup(QWidget* parent)
    : QDialog(parent),
      ui(new Ui::TFormLoadSetup),
      host_(std::make_unique<SequenceHost>(*this)),
      sequence_(*host_) {
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
    connect(this, &TFormLoadSetup::sequenceCallsQueued, this, &TFormLoadSetup::RunQueuedCalls,
            Qt::QueuedConnection);
    connect(ui->ButtonSoftwareFile, &QToolButton::clicked, this, &TFormLoadSetup::ButtonSoftwareFileClick);
    connect(ui->ButtonLoad, &QPushButton::clicked, this, &TFormLoadSetup::ButtonLoadClick);
    connect(ui->ButtonDone, &QPushButton::clicked, this, &TFormLoadSetup::ButtonDoneClick);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormLoadSetup::ButtonRequestClick);
    connect(ui->ButtonHelp, &QPushButton::clicked, this, &TFormLoadSetup::ButtonHelpClick);
    chooseFile = [this] { return RunOpenDialog(); };
    // Enter loads (Load is disabled while a load runs, so Enter does nothing then).
    PrepareDialogKeys(this, ui->EditFileName, ui->ButtonLoad);
}

TFormLoadSetup::~TFormLoadSetup() {
    stopRequested_ = true;
    JoinSequence();
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
    if (running_) {
        // The sequence shows "Cancelled" at its next wait and ends; the restore follows.
        stopRequested_ = true;
        ui->ButtonLoad->setEnabled(false);
        return;
    }
    if (!TakeFileName()) {
        return;
    }
    // The load switches rates: a line that cannot is refused before any byte is sent.
    if (const std::string refusal = LoadSequence::LineRefusal(host_->Port()); !refusal.empty()) {
        ShowStatus(refusal);
        return;
    }
    std::FILE* image = std::fopen(fileName.c_str(), "rb");
    if (image == nullptr) {
        ShowStatusFor(2, "Error opening file");
        return;
    }
    // The whole file before the receiver hears a byte: a file the loader refuses must not leave
    // the receiver in its bootloader.
    if (const std::string fault = ImageFault(image, fileName); !fault.empty()) {
        std::fclose(image);
        ShowStatus(fault);
        return;
    }
    SetPortUsersActive(false);
    SetRunningState(true);
    ShowPanel(
        {"Do Not Close Program, Do Not Remove", "Power from Receiver Until Programming", "is Complete!"},
        PanelColour::kRed);
    savedBaud = FormPort != nullptr ? FormPort->selectedBaudRate : static_cast<int32_t>(kNormalBaud);
    running_ = true;
    stopRequested_ = false;
    sequence_.Start(image);
    thread_ = std::thread([this] { RunSequence(); });
}

void TFormLoadSetup::SetRunningState(bool running) {
    ui->ButtonLoad->setEnabled(!running);
    ui->ButtonDone->setEnabled(!running);
    ui->ButtonRequest->setEnabled(!running);
    SetStaysOnTop(this, running);
}

// While a load owns the port, nothing on this thread may use it: the main window neither
// receives nor opens menus, and the windows that write to the port are disabled (a running
// calibration pauses). The help window stays usable.
void TFormLoadSetup::SetPortUsersActive(bool active) {
    if (MainWindow() != nullptr) {
        MainWindow()->SetPortUserActive(active);  // its own controls and receive loop
    }
    for (QWidget* window : {static_cast<QWidget*>(FormPort), static_cast<QWidget*>(FormRcvrPort),
                            static_cast<QWidget*>(FormMDB), static_cast<QWidget*>(FormTCMCalibStatus)}) {
        if (window != nullptr) {
            window->setEnabled(active);
        }
    }
    if (FormTCMCalibStatus != nullptr) {
        QTimer* polls = FormTCMCalibStatus->Timer();
        if (!active && polls->isActive()) {
            polls->stop();
            calibrationPaused_ = true;
        } else if (active && calibrationPaused_) {
            polls->start();
            calibrationPaused_ = false;
        }
    }
}

void TFormLoadSetup::ButtonDoneClick() {
    if (running_) {
        return;  // the button is disabled while a sequence runs
    }
    hide();
}

// No close box, no Escape while a load runs: the window is the only way to follow and cancel it.
void TFormLoadSetup::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TFormLoadSetup::reject() {
    if (!running_) {
        QDialog::reject();
    }
}

void TFormLoadSetup::ButtonRequestClick() {
    RequestVersion();
}

void TFormLoadSetup::ButtonHelpClick() {
    if (FormHelp != nullptr) {
        FormHelp->ShowLoadingHelp(BoundsOf(this));
    }
}

void TFormLoadSetup::RunSequence() {
    while (sequence_.Running()) {
        TimerTimer();
        if (sequence_.Running()) {
            CurrentClock().SleepMs(kTickPauseMs);
        }
    }
    Post([this] { SequenceEnded(); });
}

void TFormLoadSetup::Post(std::function<void()> call) {
    {
        const std::lock_guard<std::mutex> lock(queuedMutex_);
        queued_.push_back(std::move(call));
    }
    emit sequenceCallsQueued();
}

void TFormLoadSetup::RunQueuedCalls() {
    std::vector<std::function<void()>> calls;
    {
        const std::lock_guard<std::mutex> lock(queuedMutex_);
        calls.swap(queued_);
    }
    for (const auto& call : calls) {
        call();
    }
}

void TFormLoadSetup::TimerTimer() {
    sequence_.Tick();
}

// The load's thread has ended, or is about to: every call it queued before has run.
void TFormLoadSetup::SequenceEnded() {
    JoinSequence();
    if (running_) {
        EndSequence();
    }
}

// Bounded: a stop is seen within one bounded read, hold step or write.
void TFormLoadSetup::JoinSequence() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TFormLoadSetup::StopLoad() {
    if (!running_) {
        return;
    }
    stopRequested_ = true;
    JoinSequence();
    RunQueuedCalls();  // what the load's thread queued: "Cancelled", then its end, which restores
    if (running_) {
        EndSequence();
    }
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
    // Painted at once: a hold on this thread, or an observer of the progress signals that
    // takes a picture, sees it.
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

void TFormLoadSetup::RequestVersion() {
    WriteVersionRequest();
}

bool TFormLoadSetup::ReopenPort(uint32_t baud) {
    const bool opened = ReopenLinkAt(baud);
    UpdatePortStatus();  // a port that could not be opened again shows as closed
    return opened;
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
    Link().line.Write(frame, length);
}

void TFormLoadSetup::EndSequence() {
    running_ = false;
    if (Link().baudRate == static_cast<int32_t>(LoadSequence::kFastBaud)) {
        ReopenPort(kNormalBaud);
    }
    SetPortUsersActive(true);
    ui->ButtonLoad->setText(QStringLiteral("&Load"));
    SetRunningState(false);
    ui->PanelDoNotClose->hide();
    if (savedBaud != static_cast<int32_t>(kNormalBaud)) {
        ReopenPort(static_cast<uint32_t>(savedBaud));
    }
    SendRestoreSettings();
    RequestVersion();
    UpdateVersionLabel();
}
