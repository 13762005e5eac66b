#include "ui/Mainform.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "base/Clock.h"
#include "link/Lineattempt.h"
#include "link/Port.h"
#include "proto/Messages.h"
#include "proto/Sentences.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mdbform.h"
#include "ui/Memoutils.h"
#include "ui/Msgrouting.h"
#include "ui/Noteform.h"
#include "ui/Portform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Windowplaces.h"
#include "ui_Mainform.h"

TFormMain* FormMain = nullptr;

namespace {
constexpr int kTickMs = 100;
constexpr int kPortPanelWidth = 200;
constexpr int kLogPanelWidth = 50;
constexpr int64_t kUsPerSecond = 1'000'000;
}  // namespace

TFormMain::TFormMain(QWidget* parent)
    : QMainWindow(parent),
      ui(new Ui::TFormMain),
      timer_(new QTimer(this)),
      recordReplay_(CurrentClock()),
      reconnection_(CurrentClock()) {
    ui->setupUi(this);
    SetMainWindow(this);
    Link().receive.SetTap(
        [this](const uint8_t* bytes, size_t count, int64_t timeUs) { RecordReceived(bytes, count, timeUs); });
    BuildStatusBar();
    ConnectMenus();
    BuildConsole();
    BuildRecordingMenus();
    BuildExportMenu();
    timer_->setObjectName("Timer");
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &TFormMain::TimerTimer);
    timer_->start();
    chooseLogFile = [this] { return RunSaveDialog(QString()); };
    chooseDisplayFile = [this] { return RunSaveDialog(QStringLiteral("Save Display As")); };

    logFileName.clear();
    FitClientToControls(this);
    if (const QScreen* screen = this->screen()) {
        move(CentredOver(QRect(QPoint(0, 0), screen->size()), frameGeometry().size(), true));
    }
    RestoreMainWindowPlace(this);  // where the last run left it, when that is on a screen
    messageCount = 0;
    UseFixedPitchOnWindows(ui->Memo);
    layout()->activate();  // gives the memo its size inside the fitted window
    maxLines = LinesThatFit(ui->Memo);
    logging = false;
    ShowLogState();
}

TFormMain::~TFormMain() {
    SetPortStatusHook(nullptr);
    Link().receive.SetTap(nullptr);
    SetMainWindow(nullptr);
    StopRecording();
    if (logFile != nullptr) {
        std::fclose(logFile);
    }
    delete ui;
}

void TFormMain::BuildStatusBar() {
    portPanel_ = new QLabel(this);
    portPanel_->setObjectName("StatusPanel0");
    portPanel_->setMinimumWidth(kPortPanelWidth);  // grows for a long device path
    logPanel_ = new QLabel(this);
    logPanel_->setObjectName("StatusPanel1");
    logPanel_->setMinimumWidth(kLogPanelWidth);  // the last panel takes the rest of the bar
    statusBar()->addWidget(portPanel_);
    statusBar()->addWidget(logPanel_, 1);
}

void TFormMain::ConnectMenus() {
    connect(ui->MenuFileLogging, &QAction::triggered, this, &TFormMain::MenuFileLoggingClick);
    connect(ui->MenuFileExit, &QAction::triggered, this, &TFormMain::MenuFileExitClick);
    connect(ui->MenuPortConfigure, &QAction::triggered, this, &TFormMain::MenuPortConfigureClick);
    connect(ui->MenuPortClose, &QAction::triggered, this, &TFormMain::MenuPortCloseClick);
    connect(ui->MenuRcvrPort, &QAction::triggered, this, &TFormMain::MenuRcvrPortClick);
    connect(ui->MenuMDB, &QAction::triggered, this, &TFormMain::MenuMDBClick);
    connect(ui->MenuTCM, &QAction::triggered, this, &TFormMain::MenuTCMClick);
    connect(ui->MenuStatus, &QAction::triggered, this, &TFormMain::MenuStatusClick);
    connect(ui->MenuAccuracy, &QAction::triggered, this, &TFormMain::MenuAccuracyClick);
    connect(ui->MenuHelpAbout, &QAction::triggered, this, &TFormMain::MenuHelpAboutClick);
    connect(ui->MenuHelpContents, &QAction::triggered, this, &TFormMain::MenuHelpContentsClick);
    connect(ui->MenuLoad, &QAction::triggered, this, &TFormMain::MenuLoadClick);
}

QPlainTextEdit* TFormMain::Memo() const {
    return ui->Memo;
}

QAction* TFormMain::Action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void TFormMain::TimerTimer() {
    LinkState& link = Link();
    bool more = false;
    if (reconnection_.Active()) {
        ContinueReconnect();
    } else if (link.line.IsOpen()) {
        const ReceivePath::Result result = link.receive.Drain(
            link.line, kTickBytes,
            [this, &link](const DiagProto& diag) {
                feedTimeUs_ = link.receive.TimeUs();
                HandleDiagMessage(diag);
            },
            [this, &link](const CRLFProto& crlf) {
                feedTimeUs_ = link.receive.TimeUs();
                HandleSentence(crlf);
            });
        feedTimeUs_ = 0;
        more = result == ReceivePath::Result::kData;
        EndReplayIfOver(result == ReceivePath::Result::kEnded);
        if (result == ReceivePath::Result::kLost && link.line.IsRemote()) {
            BeginReconnect();
        }
    } else {
        EndReplayIfOver(false);
    }
    PollRecording();  // what a recording holds reaches the disk within a second
    // What the line still holds is taken at once rather than a tick later.
    timer_->setInterval(more ? 0 : kTickMs);
    if (FormPort != nullptr) {
        FormPort->SearchTick();
    }
}

void TFormMain::HandleDiagMessage(const DiagProto& diag) {
    ++messageCount;
    const uint8_t* frame = diag.MessageData();
    const uint8_t id = frame[frame::kIdOffset];
    ShowLine(QStringLiteral("Proprietary ID %1").arg(id));
    lastMessageId = id;
    DispatchFrame(frame, diag.MessageLength());
}

void TFormMain::HandleSentence(const CRLFProto& crlf) {
    const uint8_t* line = crlf.MessageData();
    if (FormStatus != nullptr) {
        FormStatus->TakeLine(line, crlf.MessageLength());  // every line: other talkers decode too
    }
    if (FormAccuracy != nullptr) {
        FormAccuracy->TakeLine(line, crlf.MessageLength());
    }
    if (!IsShownSentence(line, crlf.MessageLength())) {
        return;
    }
    ++messageCount;
    const std::string text(reinterpret_cast<const char*>(line), crlf.MessageLength() - 2);
    // A NUL would end the line on screen: show it as the replacement character instead.
    ShowLine(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))
                 .replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter)));
    if (logging) {
        LogLine(text);
    }
}

// Lines carry the time their bytes arrived: now on a live line, the recorded time on a replay.
void TFormMain::ShowLine(const QString& text) {
    const int64_t stamp = feedTimeUs_ / kUsPerSecond;
    if (paused_) {
        heldLines_.push_back(StampedLine(text, stamp));
        while (maxLines > 0 && heldLines_.size() > static_cast<size_t>(maxLines)) {
            heldLines_.pop_front();  // older ones would scroll out on resuming anyway
        }
        return;
    }
    AddLine(StampedLine(text, stamp), ui->Memo, maxLines);
}

void TFormMain::ShowPortState() {
    const LinkState& link = Link();
    if (FormPort != nullptr) {
        FormPort->selectedBaudRate = link.baudRate;
    }
    // A replay stands where a port would, but no port is open.
    ShowPortState(link.portName, link.baudRate, link.line.IsOpen() && link.line.CanWrite());
}

void TFormMain::ShowPortState(const std::string& portName, int32_t baudRate, bool open) {
    if (reconnection_.Active()) {
        portPanel_->setText(QString::fromStdString(reconnection_.LostText()));
        return;
    }
    portPanel_->setText(QStringLiteral("%1 : %2 : %3")
                            .arg(QString::fromStdString(portName))
                            .arg(baudRate)
                            .arg(open ? QStringLiteral("Open") : QStringLiteral("Closed")));
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TFormMain::FormShow() {
    if (FormAbout != nullptr) {
        FormAbout->ShowSplash(BoundsOf(this));
    }
}

void TFormMain::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

void TFormMain::FormClose() {
    StoreWindowPlaces();
    StopRecording();
    StopReplay();
    exporter_->Stop();  // the track file is left as it was
    // A software load uses the port on a thread of its own: end it, and put the port and the
    // receiver's settings back, before the port closes.
    if (FormLoadSetup != nullptr) {
        FormLoadSetup->StopLoad();
    }
    EndReconnect();
    Link().line.Close();
}

void TFormMain::MenuFileExitClick() {
    close();
}

void TFormMain::MenuPortConfigureClick() {
    if (FormPort != nullptr) {
        FormPort->ShowOver(BoundsOf(this));
    }
}

void TFormMain::MenuRcvrPortClick() {
    if (FormRcvrPort != nullptr) {
        FormRcvrPort->ShowOver(BoundsOf(this));
    }
}

void TFormMain::MenuLoadClick() {
    if (FormLoadSetup != nullptr) {
        FormLoadSetup->ShowOver(BoundsOf(this));
    }
}

void TFormMain::MenuMDBClick() {
    if (FormMDB != nullptr) {
        FormMDB->ShowOver(BoundsOf(this));
    }
}

void TFormMain::MenuTCMClick() {
    if (FormTCMCalibStatus != nullptr) {
        FormTCMCalibStatus->ShowOver(BoundsOf(this));
    }
}

void TFormMain::MenuStatusClick() {
    if (FormStatus != nullptr) {
        FormStatus->ShowBeside(this);
    }
}

void TFormMain::MenuAccuracyClick() {
    if (FormAccuracy != nullptr) {
        FormAccuracy->ShowBeside(this);
    }
}

void TFormMain::MenuPortCloseClick() {
    EndReconnect();
    Link().line.Close();
    ShowPortState();
}

void TFormMain::BeginReconnect() {
    LinkState& link = Link();
    if (!reconnection_.Begin(link.line, static_cast<uint32_t>(link.baudRate))) {
        return;
    }
    link.line.Close();
    const QString lost = QString::fromStdString(reconnection_.LostText());
    ShowLine(lost);
    portPanel_->setText(lost);
}

void TFormMain::ContinueReconnect() {
    LinkState& link = Link();
    if (link.line.IsOpen()) {  // the user opened a port, or a replay, meanwhile
        EndReconnect();
        return;
    }
    if (reconnectAttempt_ && reconnectAttempt_->Finished()) {
        const bool opened = reconnectAttempt_->Opened();
        const std::shared_ptr<Line> line = reconnectAttempt_->TakeLine();
        reconnectAttempt_.reset();
        if (opened) {
            link.line.TakeOpened(line, true);
            ShowLine(QString::fromStdString(reconnection_.BackText()));
            reconnection_.End();
            ShowPortState();
            return;
        }
    }
    if (!reconnectAttempt_ && reconnection_.TryDue()) {
        reconnectAttempt_ =
            std::make_unique<LineAttempt>(reconnection_.Name(), reconnection_.Baud(), link.line.Blocking());
    }
}

void TFormMain::EndReconnect() {
    reconnectAttempt_.reset();  // cancels a try under way
    if (reconnection_.Active()) {
        reconnection_.End();
        ShowPortState();
    }
}

// While a load owns the line, nothing on this thread may use it: the menus and the display
// take no input (the dialogs that belong to the window have their own say) and the receive
// loop waits.
void TFormMain::SetPortUserActive(bool active) {
    menuBar()->setEnabled(active);
    centralWidget()->setEnabled(active);
    if (active) {
        timer_->start();
    } else {
        timer_->stop();
    }
}

void TFormMain::MenuHelpContentsClick() {
    if (FormHelp != nullptr) {
        FormHelp->ShowContents(BoundsOf(this));
    }
}

void TFormMain::MenuHelpAboutClick() {
    if (FormAbout != nullptr) {
        FormAbout->ShowOver(BoundsOf(this));
    }
}
