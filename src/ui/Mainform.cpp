#include "ui/Mainform.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "link/Port.h"
#include "proto/Messages.h"
#include "proto/Receivepump.h"
#include "proto/Sentences.h"
#include "record/Recordingfile.h"
#include "record/Replaysession.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mdbform.h"
#include "ui/Memoutils.h"
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
constexpr uint32_t kReadSize = 1024;
}  // namespace

std::string ShortFileName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent), ui(new Ui::TFormMain), timer_(new QTimer(this)) {
    ui->setupUi(this);
    BuildStatusBar();
    ConnectMenus();
    BuildConsole();
    BuildRecordingMenus();
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
    if (link.serialPort.IsOpen()) {
        ResetFramersOnLineChange(link);
        uint32_t received = 0;
        link.serialPort.Read(link.receiveBuffer, kReadSize, &received, -1);
        RecordReceived(link.receiveBuffer, received);
        feed_received_bytes(
            link.diagProto, link.crlfProto, link.receiveBuffer, received,
            [this](const DiagProto& diag) { HandleDiagMessage(diag); },
            [this](const CRLFProto& crlf) { HandleSentence(crlf); });
    } else {
        RecordReceived(nullptr, 0);  // what a recording holds still reaches the disk within a second
    }
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

void TFormMain::ShowLine(const QString& text) {
    if (paused_) {
        heldLines_.push_back(StampedLine(text, replayStamp_));
        while (maxLines > 0 && heldLines_.size() > static_cast<size_t>(maxLines)) {
            heldLines_.pop_front();  // older ones would scroll out on resuming anyway
        }
        return;
    }
    AddLine(StampedLine(text, replayStamp_), ui->Memo, maxLines);
}

void TFormMain::ShowPortState() {
    const LinkState& link = Link();
    if (FormPort != nullptr) {
        FormPort->selectedBaudRate = link.baudRate;
    }
    ShowPortState(link.portName, link.baudRate, link.serialPort.IsOpen());
}

void TFormMain::ShowPortState(const std::string& portName, int32_t baudRate, bool open) {
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
    // A software load uses the port on a thread of its own: end it, and put the port and the
    // receiver's settings back, before the port closes.
    if (FormLoadSetup != nullptr) {
        FormLoadSetup->StopLoad();
    }
    Link().serialPort.Close();
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

void TFormMain::MenuPortCloseClick() {
    Link().serialPort.Close();
    ShowPortState();
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
