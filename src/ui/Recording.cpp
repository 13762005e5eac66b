// Recording and replay in the main window. A recording keeps every byte read from the open
// port with its arrival time, beside (not instead of) NMEA logging. A replay feeds a
// recording's bytes through the same receive path as the port's, so the display, the status
// window, the other dialogs and logging see it as they would see the receiver.
#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <chrono>

#include "base/Clock.h"
#include "link/Port.h"
#include "proto/Receivepump.h"
#include "record/Recordingfile.h"
#include "record/Replaysession.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"

namespace {
constexpr int kReplayTickMs = 10;
constexpr int kReplaySliceUs = 40'000;  // work per tick "as fast as possible": the window stays responsive
constexpr double kFastSpeed = 10.0;
constexpr uint32_t kPlainBauds[] = {4800, 9600, 19200, 38400, 57600, 115200};

void ShowNote(QWidget* over, const QString& text) {
    if (FormNote != nullptr) {
        FormNote->ShowMessageOver(BoundsOf(over), text);
    }
}

int64_t WallClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

QString SizeText(uint64_t bytes) {
    if (bytes < 10 * 1024) {
        return QStringLiteral("%1 bytes").arg(bytes);
    }
    if (bytes < 10 * 1024 * 1024) {
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    }
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

QString TimeText(uint64_t us) {
    return QString::fromStdString(RecordingTimeText(us));
}

QAction* AddAction(QMenu* menu, QObject* owner, const char* name, const QString& text) {
    auto* action = new QAction(text, owner);
    action->setObjectName(QString::fromLatin1(name));
    menu->addAction(action);
    return action;
}
}  // namespace

void TFormMain::BuildRecordingMenus() {
    recordPanel_ = new QLabel(this);
    recordPanel_->setObjectName("StatusPanelRecording");
    recordPanel_->hide();
    statusBar()->addPermanentWidget(recordPanel_);
    replayTimer_ = new QTimer(this);
    replayTimer_->setObjectName("ReplayTimer");
    replayTimer_->setInterval(kReplayTickMs);
    connect(replayTimer_, &QTimer::timeout, this, &TFormMain::ReplayTick);

    // File: Record... and Open Recording... above Exit, and the replay's controls.
    auto* fileMenu = menuBar()->findChild<QMenu*>(QStringLiteral("MenuFile"));
    auto* holder = new QMenu(this);
    QAction* record = AddAction(holder, this, "MenuFileRecord", QStringLiteral("&Record..."));
    QAction* open = AddAction(holder, this, "MenuFileOpenRecording", QStringLiteral("&Open Recording..."));
    auto* replayMenu = new QMenu(QStringLiteral("Re&play"), this);
    replayMenu->setObjectName("MenuReplay");
    QAction* pause = AddAction(replayMenu, this, "MenuReplayPause", QStringLiteral("&Pause"));
    pause->setCheckable(true);
    replayMenu->addSeparator();
    auto* speeds = new QActionGroup(this);
    const struct {
        const char* name;
        const char* text;
        double speed;
    } speedRows[] = {
        {"MenuReplayRecordedPace", "&Recorded Pace", 1.0},
        {"MenuReplayTenTimes", "&10 Times Faster", kFastSpeed},
        {"MenuReplayFastest", "As &Fast as Possible", ReplayPacer::kAsFastAsPossible},
    };
    for (const auto& row : speedRows) {
        QAction* action = AddAction(replayMenu, this, row.name, QString::fromLatin1(row.text));
        action->setCheckable(true);
        action->setChecked(row.speed == 1.0);
        speeds->addAction(action);
        const double speed = row.speed;
        connect(action, &QAction::triggered, this, [this, speed] { SetReplaySpeed(speed); });
    }
    replayMenu->addSeparator();
    QAction* stop = AddAction(replayMenu, this, "MenuReplayStop", QStringLiteral("&Stop Replay"));
    QAction* exit = Action("MenuFileExit");
    fileMenu->insertAction(exit, record);
    fileMenu->insertAction(exit, open);
    fileMenu->insertMenu(exit, replayMenu);
    fileMenu->insertSeparator(exit);
    replayMenu->setEnabled(false);

    connect(record, &QAction::triggered, this, &TFormMain::MenuFileRecordClick);
    connect(open, &QAction::triggered, this, &TFormMain::MenuFileOpenRecordingClick);
    connect(pause, &QAction::toggled, this, &TFormMain::PauseReplay);
    connect(stop, &QAction::triggered, this, [this] { StopReplay(); });

    const QString filter = QStringLiteral("Recordings (*.rec);;All files (*)");
    chooseRecordingFile = [this, filter] {
        QFileDialog dialog(this, QStringLiteral("Record"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDirectory(StoredFolder(FileFolder::Records));
        dialog.setDefaultSuffix(QStringLiteral("rec"));
        dialog.setNameFilter(filter);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().front()
                   : QString();
    };
    chooseReplayFile = [this, filter] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open Recording"),
                                            StoredFolder(FileFolder::Records), filter);
    };
    choosePlainBaud = [this] {
        QStringList rates;
        for (const uint32_t rate : kPlainBauds) {
            rates << QString::number(rate);
        }
        bool ok = false;
        const QString chosen = QInputDialog::getItem(
            this, QStringLiteral("Open Recording"),
            QStringLiteral("This file is not a recording.\nPlay its bytes as received at a line rate of:"),
            rates, 2, false, &ok);
        return ok ? chosen.toUInt() : 0u;
    };
    ShowRecordingState();
}

void TFormMain::MenuFileRecordClick() {
    if (Recording()) {
        StopRecording();
        return;
    }
    const QString chosen = chooseRecordingFile ? chooseRecordingFile() : QString();
    if (!chosen.isEmpty()) {
        StoreFolderOf(FileFolder::Records, chosen);
        StartRecording(chosen);
    }
}

bool TFormMain::StartRecording(const QString& fileName) {
    const LinkState& link = Link();
    auto file = std::make_unique<RecordingFile>();
    const RecordingHeader header{static_cast<uint32_t>(link.baudRate), WallClockUs(), link.portName};
    if (!file->Open(fileName.toStdString(), header, CurrentClock().MonotonicUs())) {
        ShowNote(this, QString::fromStdString(file->Error()));
        return false;
    }
    recording_ = std::move(file);
    Action("MenuFileRecord")->setText(QStringLiteral("Stop &Recording"));
    ShowRecordingState();
    return true;
}

void TFormMain::StopRecording() {
    if (!recording_) {
        return;
    }
    const bool written = recording_->Close();
    const QString error = QString::fromStdString(recording_->Error());
    recording_.reset();
    Action("MenuFileRecord")->setText(QStringLiteral("&Record..."));
    ShowRecordingState();
    if (!written) {
        ShowNote(this, error);
    }
}

void TFormMain::RecordReceived(const uint8_t* bytes, uint32_t count) {
    if (!recording_) {
        return;
    }
    const int64_t now = CurrentClock().MonotonicUs();
    const bool written = count > 0 ? recording_->Add(now, bytes, count) : recording_->Poll(now);
    if (!written) {
        StopRecording();  // shows why
        return;
    }
    ShowRecordingState();
}

void TFormMain::MenuFileOpenRecordingClick() {
    const QString chosen = chooseReplayFile ? chooseReplayFile() : QString();
    if (chosen.isEmpty()) {
        return;
    }
    StoreFolderOf(FileFolder::Records, chosen);
    const RecordingSummary summary = SummarizeRecording(chosen.toStdString(), 0);
    uint32_t plainBaud = 0;
    if (!summary.readable && summary.problem.find("not a recording") != std::string::npos) {
        plainBaud = choosePlainBaud ? choosePlainBaud() : 0;
        if (plainBaud == 0) {
            return;
        }
    }
    StartReplay(chosen, plainBaud);
}

bool TFormMain::StartReplay(const QString& fileName, uint32_t plainBaud) {
    if (Link().serialPort.IsOpen()) {
        ShowNote(this, QStringLiteral("Close the port before replaying a recording."));
        return false;
    }
    StopReplay();
    auto session = std::make_unique<ReplaySession>();
    std::string error;
    if (!session->Open(fileName.toStdString(), plainBaud, error)) {
        ShowNote(this, QStringLiteral("Cannot replay %1: %2").arg(fileName, QString::fromStdString(error)));
        return false;
    }
    LinkState& link = Link();
    link.diagProto.Reset();
    link.crlfProto.Reset();
    double speed = 1.0;
    if (Action("MenuReplayTenTimes")->isChecked()) {
        speed = kFastSpeed;
    } else if (Action("MenuReplayFastest")->isChecked()) {
        speed = ReplayPacer::kAsFastAsPossible;
    }
    session->Start(CurrentClock().MonotonicUs(), speed);
    replay_ = std::move(session);
    replayName_ = QFileInfo(fileName).fileName();
    Action("MenuReplayPause")->setChecked(false);
    findChild<QMenu*>(QStringLiteral("MenuReplay"))->setEnabled(true);
    replayTimer_->setInterval(speed == ReplayPacer::kAsFastAsPossible ? 0 : kReplayTickMs);
    replayTimer_->start();
    ShowRecordingState();
    return true;
}

void TFormMain::StopReplay(const QString& why) {
    if (!replay_) {
        return;
    }
    replayTimer_->stop();
    const uint64_t at = replay_->PositionUs(CurrentClock().MonotonicUs());
    replay_.reset();
    replayStamp_ = 0;
    findChild<QMenu*>(QStringLiteral("MenuReplay"))->setEnabled(false);
    ShowLine(why.isEmpty() ? QStringLiteral("Replay of %1 stopped at %2").arg(replayName_, TimeText(at))
                           : why);
    ShowRecordingState();
}

void TFormMain::SetReplaySpeed(double speed) {
    if (replay_) {
        replay_->Pacer().SetSpeed(CurrentClock().MonotonicUs(), speed);
        replayTimer_->setInterval(speed == ReplayPacer::kAsFastAsPossible ? 0 : kReplayTickMs);
    }
}

void TFormMain::PauseReplay(bool paused) {
    if (!replay_) {
        return;
    }
    const int64_t now = CurrentClock().MonotonicUs();
    // A paused replay has nothing to do until it resumes: its timer stops meanwhile.
    if (paused) {
        replay_->Pacer().Pause(now);
        replayTimer_->stop();
    } else {
        replay_->Pacer().Resume(now);
        replayTimer_->start();
    }
    ShowRecordingState();
}

void TFormMain::ReplayTick() {
    if (!replay_) {
        return;
    }
    if (Link().serialPort.IsOpen()) {
        StopReplay(QStringLiteral("Replay of %1 stopped: a port was opened").arg(replayName_));
        return;
    }
    LinkState& link = Link();
    const int64_t startUs = replay_->Header().startUnixUs;
    const bool plain = replay_->PlainBytes();
    Clock& clock = CurrentClock();
    const bool more = replay_->Pump([&clock] { return clock.MonotonicUs(); }, kReplaySliceUs,
                                    [&](const uint8_t* bytes, size_t size, uint64_t timeUs) {
                                        // Lines show the time they were received, as they did live.
                                        replayStamp_ =
                                            plain ? 0 : (startUs + static_cast<int64_t>(timeUs)) / 1'000'000;
                                        feed_received_bytes(
                                            link.diagProto, link.crlfProto, bytes, size,
                                            [this](const DiagProto& diag) { HandleDiagMessage(diag); },
                                            [this](const CRLFProto& crlf) { HandleSentence(crlf); });
                                    });
    replayStamp_ = 0;
    if (!more) {
        const std::string problem = replay_->Problem();
        const QString name = replayName_;
        const QString length = TimeText(replay_->DurationUs());
        replayTimer_->stop();
        StopReplay(problem.empty() ? QStringLiteral("Replay of %1 ended (%2)").arg(name, length)
                                   : QStringLiteral("Replay of %1 stopped at %2: %3")
                                         .arg(name, length, QString::fromStdString(problem)));
        return;
    }
    ShowRecordingState();
}

void TFormMain::ShowRecordingState() {
    QStringList parts;
    const int64_t now = CurrentClock().MonotonicUs();
    if (recording_) {
        parts << QStringLiteral("Recording: %1 %2 %3")
                     .arg(QString::fromStdString(ShortFileName(recording_->Path())),
                          SizeText(recording_->FileBytes()), TimeText(recording_->ElapsedUs(now)));
    }
    if (replay_) {
        parts << QStringLiteral("Replay: %1 %2 of %3%4")
                     .arg(replayName_, TimeText(replay_->PositionUs(now)), TimeText(replay_->DurationUs()),
                          replay_->Pacer().Paused() ? QStringLiteral(" (paused)") : QString());
    }
    recordPanel_->setText(parts.join(QStringLiteral("   ")));
    recordPanel_->setVisible(!parts.isEmpty());
}
