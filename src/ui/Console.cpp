// The main window's display as a console: pause and resume, copy, select all, clear, and
// saving what it shows, from the Edit and File menus, the display's context menu and the keys.
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QStatusBar>
#include <functional>

#include "ui/Mainform.h"
#include "ui/Memoutils.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"

namespace {
// Saved displays end their lines as the log does, so that both read the same everywhere.
constexpr const char* kLineEnd = "\r\n";

// Space pauses and resumes while the display has the focus; elsewhere Space stays with the
// control that has it (a button, say).
class SpaceTogglesPause : public QObject {
  public:
    SpaceTogglesPause(QObject* parent, std::function<void()> toggle)
        : QObject(parent), toggle_(std::move(toggle)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
                toggle_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> toggle_;
};
}  // namespace

void TFormMain::BuildConsole() {
    pausePanel_ = new QLabel(QStringLiteral("Paused"), this);
    pausePanel_->setObjectName("StatusPanel2");
    QFont bold = pausePanel_->font();
    bold.setBold(true);
    pausePanel_->setFont(bold);
    pausePanel_->setContentsMargins(0, 0, 4, 0);  // clear of the window's edge
    pausePanel_->hide();
    statusBar()->addPermanentWidget(pausePanel_);

    connect(Action("MenuFileSaveDisplay"), &QAction::triggered, this, &TFormMain::MenuFileSaveDisplayClick);
    connect(Action("MenuEditCopy"), &QAction::triggered, this, &TFormMain::MenuEditCopyClick);
    connect(Action("MenuEditSelectAll"), &QAction::triggered, this, &TFormMain::MenuEditSelectAllClick);
    connect(Action("MenuEditClear"), &QAction::triggered, this, &TFormMain::MenuEditClearClick);
    connect(Action("MenuEditPause"), &QAction::triggered, this, &TFormMain::MenuEditPauseClick);
    connect(Memo(), &QPlainTextEdit::copyAvailable, Action("MenuEditCopy"), &QAction::setEnabled);

    // The display's own menu offers the same commands as the menu bar.
    auto* menu = new QMenu(this);
    menu->setObjectName("MemoContextMenu");
    menu->addAction(Action("MenuEditCopy"));
    menu->addAction(Action("MenuEditSelectAll"));
    menu->addSeparator();
    menu->addAction(Action("MenuEditClear"));
    menu->addAction(Action("MenuEditPause"));
    menu->addSeparator();
    menu->addAction(Action("MenuFileSaveDisplay"));
    Memo()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo(), &QWidget::customContextMenuRequested, menu,
            [this, menu](const QPoint& pos) { menu->popup(Memo()->viewport()->mapToGlobal(pos)); });
    Memo()->installEventFilter(new SpaceTogglesPause(Memo(), [this] { MenuEditPauseClick(); }));
}

void TFormMain::MenuEditCopyClick() {
    Memo()->copy();
}

void TFormMain::MenuEditSelectAllClick() {
    Memo()->selectAll();
}

// Clearing starts afresh: the lines waiting while paused go too.
void TFormMain::MenuEditClearClick() {
    Memo()->clear();
    heldLines_.clear();
}

void TFormMain::MenuEditPauseClick() {
    paused_ = !paused_;
    if (!paused_) {
        for (const QString& line : heldLines_) {
            AddLine(line, Memo(), maxLines);
        }
        heldLines_.clear();
    }
    Action("MenuEditPause")
        ->setText(paused_ ? QStringLiteral("&Resume Display") : QStringLiteral("&Pause Display"));
    pausePanel_->setVisible(paused_);
}

void TFormMain::MenuFileSaveDisplayClick() {
    const QString chosen = chooseDisplayFile ? chooseDisplayFile() : QString();
    if (!chosen.isEmpty()) {
        StoreFolderOf(FileFolder::Records, chosen);
        SaveDisplay(chosen);
    }
}

void TFormMain::SaveDisplay(const QString& fileName) {
    QSaveFile file(fileName);
    bool written = file.open(QIODevice::WriteOnly);
    for (const QString& line : Memo()->toPlainText().split(QChar(u'\n'), Qt::SkipEmptyParts)) {
        written = written && file.write(line.toUtf8()) >= 0 && file.write(kLineEnd) >= 0;
    }
    if (!written) {
        file.cancelWriting();
    }
    if (!written || !file.commit()) {
        if (FormNote != nullptr) {
            FormNote->ShowMessageOver(BoundsOf(this), QStringLiteral("Error writing file ") + fileName);
        }
    }
}
