#include "ui/Keyboard.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

namespace {
struct Placed {
    QWidget* widget;
    QRect rect;  // in the window's coordinates
};

bool IsPartOfCompound(const QWidget* widget, const QWidget* window) {
    for (const QWidget* up = widget->parentWidget(); up != nullptr && up != window; up = up->parentWidget()) {
        if (qobject_cast<const QComboBox*>(up) != nullptr ||
            qobject_cast<const QAbstractSpinBox*>(up) != nullptr ||
            qobject_cast<const QAbstractScrollArea*>(up) != nullptr) {
            return true;
        }
    }
    return false;
}

bool IsTabStop(const QWidget* widget, const QWidget* window) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->window() == window &&
           widget->focusProxy() == nullptr && !IsPartOfCompound(widget, window);
}

// Starts the focus at the dialog's first field on every showing, with the cue shown.
class FocusOnShow : public QObject {
  public:
    FocusOnShow(QDialog* dialog, QWidget* first) : QObject(dialog), dialog_(dialog), first_(first) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::Show) {
            QWidget* target = first_ != nullptr && first_->isEnabled() && first_->isVisibleTo(dialog_)
                                  ? first_
                                  : FirstTabStop();
            if (target != nullptr) {
                target->setFocus(Qt::TabFocusReason);
            }
            // The cue a style draws once the keyboard has moved the focus: a dialog opened
            // to be used from the keyboard shows where the focus is from the start.
            dialog_->setAttribute(Qt::WA_KeyboardFocusChange);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QWidget* FirstTabStop() const {
        for (QWidget* widget : TabStopsAsShown(dialog_)) {
            if (widget->isEnabled() && widget->isVisibleTo(dialog_)) {
                return widget;
            }
        }
        return nullptr;
    }

    QDialog* dialog_;
    QWidget* first_;
};

// The exclusive toggles that share `button`'s parent, left to right.
std::vector<QAbstractButton*> ExclusiveGroupOf(const QAbstractButton* button) {
    std::vector<QAbstractButton*> group;
    for (QAbstractButton* other :
         button->parentWidget()->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        if (other->isCheckable() && other->autoExclusive()) {
            group.push_back(other);
        }
    }
    std::stable_sort(group.begin(), group.end(),
                     [](const QAbstractButton* a, const QAbstractButton* b) { return a->x() < b->x(); });
    return group;
}

// Left/Up and Right/Down press the previous or next toggle of an exclusive group and move the
// focus with the choice, as in a group of option buttons.
class ArrowsMoveChoice : public QObject {
  public:
    explicit ArrowsMoveChoice(QAbstractButton* button) : QObject(button), button_(button) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::KeyPress) {
            return QObject::eventFilter(watched, event);
        }
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int step = key == Qt::Key_Left || key == Qt::Key_Up      ? -1
                         : key == Qt::Key_Right || key == Qt::Key_Down ? 1
                                                                       : 0;
        if (step == 0) {
            return QObject::eventFilter(watched, event);
        }
        const std::vector<QAbstractButton*> group = ExclusiveGroupOf(button_);
        const auto at = std::find(group.begin(), group.end(), button_);
        const auto index = (at - group.begin()) + step;
        if (index >= 0 && index < static_cast<std::ptrdiff_t>(group.size()) &&
            group[static_cast<size_t>(index)]->isEnabled()) {
            QAbstractButton* next = group[static_cast<size_t>(index)];
            next->setFocus(Qt::TabFocusReason);
            next->click();  // as a click: the dialog follows the choice
        }
        return true;
    }

  private:
    QAbstractButton* button_;
};

// Tab stops once at a group of exclusive toggles, as at a group of option buttons: at the
// pressed one, from where the arrow keys move the choice. The others take the focus by click.
void StopTabAtChoiceOnly(QAbstractButton* button) {
    const auto follow = [button](bool checked) {
        button->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
    };
    follow(button->isChecked());
    QObject::connect(button, &QAbstractButton::toggled, button, follow);
    button->installEventFilter(new ArrowsMoveChoice(button));
}

// An editable combo box keeps Enter to itself (it takes the typed text as its choice); a dialog
// user who types a choice and presses Enter means the dialog's default button as well. Enter
// on an item of the open list never comes here: the list has the keyboard then.
class EnterReachesDialog : public QObject {
  public:
    explicit EnterReachesDialog(QComboBox* combo) : QObject(combo), combo_(combo) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != combo_ || event->type() != QEvent::KeyPress) {
            return QObject::eventFilter(watched, event);
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
            return QObject::eventFilter(watched, event);
        }
        static_cast<QObject*>(combo_)->event(event);  // the combo box takes the typed choice
        QKeyEvent again(QEvent::KeyPress, key->key(), key->modifiers(), key->text());
        QCoreApplication::sendEvent(combo_->window(), &again);
        return true;
    }

  private:
    QComboBox* combo_;
};

// Turns the label's access key into a move of the focus to the row: a label's buddy that is
// a button would be pressed by it.
class FocusRowOnAccessKey : public QObject {
  public:
    FocusRowOnAccessKey(QLabel* label, std::vector<QAbstractButton*> row)
        : QObject(label), label_(label), row_(std::move(row)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != label_ || event->type() != QEvent::Shortcut) {
            return QObject::eventFilter(watched, event);
        }
        const auto checked = std::find_if(row_.begin(), row_.end(), [](const QAbstractButton* button) {
            return button->isChecked() && button->isEnabled();
        });
        QAbstractButton* target = checked != row_.end() ? *checked : row_.front();
        target->setFocus(Qt::ShortcutFocusReason);
        return true;
    }

  private:
    QLabel* label_;
    std::vector<QAbstractButton*> row_;
};
}  // namespace

QString ShownCaption(const QString& caption) {
    QString shown = caption;
    shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QChar(u'&'))
        .replace(QChar(u'\x01'), QChar(u'&'));
    return shown;
}

std::vector<QWidget*> TabStopsAsShown(QWidget* window) {
    std::vector<Placed> placed;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (IsTabStop(widget, window)) {
            placed.push_back({widget, QRect(widget->mapTo(window, QPoint(0, 0)), widget->size())});
        }
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.rect.top() < b.rect.top(); });
    std::vector<QWidget*> order;
    for (auto rowStart = placed.begin(); rowStart != placed.end();) {
        const QRect first = rowStart->rect;
        const auto rowEnd = std::find_if(rowStart, placed.end(), [&first](const Placed& p) {
            return p.rect.center().y() > first.bottom();
        });
        std::stable_sort(rowStart, rowEnd,
                         [](const Placed& a, const Placed& b) { return a.rect.left() < b.rect.left(); });
        for (auto it = rowStart; it != rowEnd; ++it) {
            order.push_back(it->widget);
        }
        rowStart = rowEnd;
    }
    return order;
}

void OrderTabsAsShown(QWidget* window) {
    const std::vector<QWidget*> order = TabStopsAsShown(window);
    for (size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void PrepareDialogKeys(QDialog* dialog, QWidget* firstField, QPushButton* defaultButton) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        button->setAutoDefault(true);
    }
    if (defaultButton != nullptr) {
        defaultButton->setDefault(true);
    }
    OrderTabsAsShown(dialog);
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->isCheckable() && button->autoExclusive()) {
            StopTabAtChoiceOnly(button);
        }
    }
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        if (combo->isEditable()) {
            combo->installEventFilter(new EnterReachesDialog(combo));
        }
    }
    dialog->installEventFilter(new FocusOnShow(dialog, firstField));
}

void LabelToggleRow(QLabel* label, const std::vector<QAbstractButton*>& row) {
    if (row.empty()) {
        return;
    }
    label->setBuddy(row.front());  // registers the access key and tells assistive technology
    label->installEventFilter(new FocusRowOnAccessKey(label, row));
    NameTogglesByRow(label, row);
}

void NameTogglesByRow(const QLabel* label, const std::vector<QAbstractButton*>& row) {
    QString rowName = ShownCaption(label->text()).trimmed();
    if (rowName.endsWith(u':')) {
        rowName.chop(1);
    }
    const QList<QAbstractButton*> all = label->window()->findChildren<QAbstractButton*>();
    for (QAbstractButton* toggle : row) {
        const QString caption = ShownCaption(toggle->text());
        const auto sameCaption = std::count_if(all.begin(), all.end(), [&caption](const QAbstractButton* b) {
            return ShownCaption(b->text()) == caption;
        });
        // A caption seen once in the window names its toggle; ON and OFF need their row.
        if (sameCaption > 1) {
            toggle->setAccessibleName(rowName + u' ' + caption);
        }
    }
}
