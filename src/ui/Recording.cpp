// Recording and replay in the main window, driving the recording and replay controller. A
// recording keeps every byte read from the line with its arrival time, beside (not instead
// of) NMEA logging. A replay is a line put where the port would be, so the display, the status
// window, the other dialogs and logging see it as they would see the receiver.
#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include "link/Port.h"
#include "proto/Linerates.h"
#include "ui/Accuracyform.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Statusform.h"
#include "ui/Storedsettings.h"

namespace {
void ShowNote(QWidget* over, const QString& text) {
    if (FormNote != nullptr) {
        FormNote->ShowMessageOver(BoundsOf(over), text);
    }
}

QAction* AddAction(QMenu* menu, QObject* owner, const char* name, const QString& text) {
    auto* action = new QAction(text, owner);
    action->setObjectName(QString::fromLatin1(name));
    menu->addAction(action);
    return action;
}

// The pace rows of File > Replay.
struct PaceRow {
    const char* name;
    const char* text;
    double speed;
};
constexpr PaceRow kPaceRows[] = {
    {"MenuReplayRecordedPace", "&Recorded Pace", 1.0},
    {"MenuReplayTenTimes", "&10 Times Faster", RecordReplay::kTenTimes},
    {"MenuReplayFastest", "As &Fast as Possible", ReplayPacer::kAsFastAsPossible},
};
}  // namespace

void TFormMain::BuildRecordingMenus() {
    recordPanel_ = new QLabel(this);
    recordPanel_->setObjectName("StatusPanelRecording");
    recordPanel_->hide();
    statusBar()->addPermanentWidget(recordPanel_);

    // File: Record... and Open Recording... above Exit, and the replay's controls. The
    // submenu stays enabled: the pace is chosen before a replay as during one, and a menu
    // disabled while it is open would keep its grab.
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
    for (const PaceRow& row : kPaceRows) {
        QAction* action = AddAction(replayMenu, this, row.name, QString::fromLatin1(row.text));
        action->setCheckable(true);
        action->setChecked(row.speed == recordReplay_.Speed());
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
        for (const uint32_t rate : kLineRates) {
            rates << QString::number(rate);
        }
        bool ok = false;
        const QString chosen = QInputDialog::getItem(
            this, QStringLiteral("Open Recording"),
            QStringLiteral("This file is not a recording.\nPlay its bytes as received at a line rate of:"),
            rates, static_cast<int>(kLineRateIndex19200), false, &ok);
        return ok ? chosen.toUInt() : 0u;
    };
    ShowReplayControls();
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
    if (!recordReplay_.StartRecording(fileName.toStdString(), link.portName,
                                      static_cast<uint32_t>(link.baudRate))) {
        ShowNote(this, QString::fromStdString(recordReplay_.Error()));
        return false;
    }
    recordingFile_ = fileName;
    Action("MenuFileRecord")->setText(QStringLiteral("Stop &Recording"));
    ShowRecordingState();
    return true;
}

void TFormMain::StopRecording() {
    if (!Recording()) {
        return;
    }
    const bool written = recordReplay_.StopRecording();
    SetTrackSource(recordingFile_, 0);
    Action("MenuFileRecord")->setText(QStringLiteral("&Record..."));
    ShowRecordingState();
    if (!written) {
        ShowNote(this, QString::fromStdString(recordReplay_.Error()));
    }
}

void TFormMain::RecordReceived(const uint8_t* bytes, size_t count, int64_t timeUs) {
    if (!Recording()) {
        return;
    }
    if (!recordReplay_.Record(bytes, count, timeUs)) {
        Action("MenuFileRecord")->setText(QStringLiteral("&Record..."));
        ShowNote(this, QString::fromStdString(recordReplay_.Error()));
    }
    ShowRecordingState();
}

void TFormMain::PollRecording() {
    if (!Recording()) {
        return;
    }
    if (!recordReplay_.Poll()) {
        Action("MenuFileRecord")->setText(QStringLiteral("&Record..."));
        ShowNote(this, QString::fromStdString(recordReplay_.Error()));
    }
    ShowRecordingState();
}

void TFormMain::MenuFileOpenRecordingClick() {
    const QString chosen = chooseReplayFile ? chooseReplayFile() : QString();
    if (chosen.isEmpty()) {
        return;
    }
    StoreFolderOf(FileFolder::Records, chosen);
    StartReplay(chosen, 0);
}

bool TFormMain::StartReplay(const QString& fileName, uint32_t plainBaud) {
    LinkState& link = Link();
    if (link.line.IsOpen() && link.line.CanWrite()) {
        ShowNote(this, QStringLiteral("Close the port before replaying a recording."));
        return false;
    }
    StopReplay();
    uint32_t rate = plainBaud;
    auto line = recordReplay_.OpenReplay(fileName.toStdString(), rate);
    // A file that is not a recording plays as plain bytes at a line rate the user chooses.
    if (!line && rate == 0 && recordReplay_.NeedsLineRate() && choosePlainBaud) {
        rate = choosePlainBaud();
        if (rate == 0) {
            return false;
        }
        line = recordReplay_.OpenReplay(fileName.toStdString(), rate);
    }
    if (!line) {
        ShowNote(this, QStringLiteral("Cannot replay %1: %2")
                           .arg(fileName, QString::fromStdString(recordReplay_.Error())));
        return false;
    }
    line->SetBlocking(false);
    link.line.Adopt(line);
    // What the status window counted and heard belongs to another source; the accuracy
    // window's figures become the recording's.
    if (FormStatus != nullptr) {
        FormStatus->Restart();
    }
    if (FormAccuracy != nullptr) {
        FormAccuracy->ButtonResetClick();
    }
    SetTrackSource(fileName, rate);
    Action("MenuReplayPause")->setChecked(false);
    ShowReplayControls();
    ShowRecordingState();
    ShowPortState();
    return true;
}

void TFormMain::StopReplay() {
    EndReplay(RecordReplay::Ending::kStopped);
}

void TFormMain::EndReplay(RecordReplay::Ending ending) {
    if (!Replaying()) {
        return;
    }
    ShowLine(QString::fromStdString(recordReplay_.EndReplay(ending)));  // closes the replay's line
    if (FormStatus != nullptr) {
        FormStatus->Restart();
    }
    ShowReplayControls();
    ShowRecordingState();
    ShowPortState();
}

bool TFormMain::EndReplayIfOver(bool played) {
    if (!Replaying()) {
        return false;
    }
    if (played) {
        EndReplay(RecordReplay::Ending::kPlayed);
        return true;
    }
    const LinkState& link = Link();
    if (!link.line.IsOpen()) {
        EndReplay(RecordReplay::Ending::kStopped);  // the port was closed under it
        return true;
    }
    if (link.line.CanWrite()) {
        EndReplay(RecordReplay::Ending::kPortOpened);
        return true;
    }
    return false;
}

void TFormMain::SetReplaySpeed(double speed) {
    recordReplay_.SetSpeed(speed);
    ShowReplayControls();
}

void TFormMain::PauseReplay(bool paused) {
    recordReplay_.Pause(paused);
    ShowRecordingState();
}

// The pace chosen is shown checked whether a replay runs or not; pausing and stopping need one.
void TFormMain::ShowReplayControls() {
    for (const PaceRow& row : kPaceRows) {
        Action(row.name)->setChecked(row.speed == recordReplay_.Speed());
    }
    Action("MenuReplayPause")->setEnabled(Replaying());
    Action("MenuReplayStop")->setEnabled(Replaying());
    if (!Replaying()) {
        Action("MenuReplayPause")->setChecked(false);
    }
}

void TFormMain::ShowRecordingState() {
    QStringList parts;
    if (Recording()) {
        parts << QString::fromStdString(recordReplay_.RecordingState());
    }
    if (Replaying()) {
        parts << QString::fromStdString(recordReplay_.ReplayState());
    }
    if (ExportingTrack()) {
        parts << QStringLiteral("Exporting track...");
    }
    recordPanel_->setText(parts.join(QStringLiteral("   ")));
    recordPanel_->setVisible(!parts.isEmpty());
}
