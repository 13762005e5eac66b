#include "ui/Togglegroup.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/Keyboard.h"

namespace {
constexpr int kFillInset = 2;  // the style's pressed frame shows round the fill
constexpr int kPadding = 3;    // between the fill's edge and the tick or the caption
constexpr int kTickGap = 3;    // between the tick and the caption

struct CheckedLayout {
    int tickWidth;
    int textWidth;
    int Width() const { return tickWidth + kTickGap + textWidth; }
};

CheckedLayout LayoutOf(const QAbstractButton* button) {
    const QFontMetrics metrics(button->font());
    return {metrics.height() / 2, metrics.horizontalAdvance(ShownCaption(button->text()))};
}

// A tick whose box is `size` wide and high, standing with its left edge at `left`, centred on `middle`.
QPainterPath Tick(qreal left, qreal middle, qreal size) {
    QPainterPath path;
    path.moveTo(left, middle);
    path.lineTo(left + size * 0.38, middle + size * 0.38);
    path.lineTo(left + size, middle - size * 0.45);
    return path;
}

void PaintChecked(QAbstractButton* button) {
    QPainter painter(button);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = button->isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor fill = button->palette().color(group, QPalette::Highlight);
    const QColor ink = button->palette().color(group, QPalette::HighlightedText);
    const QRect inner = button->rect().adjusted(kFillInset, kFillInset, -kFillInset, -kFillInset);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(inner, 2, 2);

    const CheckedLayout layout = LayoutOf(button);
    const int left = std::max(inner.left() + kPadding, inner.left() + (inner.width() - layout.Width()) / 2);
    QPen pen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(Tick(left, inner.center().y() + 0.5, layout.tickWidth));
    const QRect textArea(left + layout.tickWidth + kTickGap, inner.top(), layout.textWidth + 1,
                         inner.height());
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, button->text());
}

// A dotted frame inside the button while it has the focus, pressed or raised: some styles
// draw no focus cue on a tool button, and a keyboard user must see where Space will act.
void PaintFocusCue(QAbstractButton* button) {
    QPainter painter(button);
    const QPalette::ColorRole ink = button->isChecked() ? QPalette::HighlightedText : QPalette::ButtonText;
    painter.setPen(QPen(button->palette().color(ink), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    const int inset = kFillInset + 1;
    painter.drawRect(button->rect().adjusted(inset, inset, -inset - 1, -inset - 1));
}

// Lets the button paint itself as its style does, then, while it is down, paints the fill,
// the tick and the caption over it, and, while it has the focus, the focus cue.
class CheckedLook : public QObject {
  public:
    explicit CheckedLook(QAbstractButton* button) : QObject(button), button_(button) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::Paint ||
            !(button_->isChecked() || button_->hasFocus())) {
            return QObject::eventFilter(watched, event);
        }
        static_cast<QObject*>(button_)->event(event);  // the style's button beneath
        if (button_->isChecked()) {
            PaintChecked(button_);
        }
        if (button_->hasFocus()) {
            PaintFocusCue(button_);
        }
        return true;
    }

  private:
    QAbstractButton* button_;
};
}  // namespace

void ShowCheckedState(QAbstractButton* button) {
    button->installEventFilter(new CheckedLook(button));
}

int CheckedStateWidth(const QAbstractButton* button) {
    return 2 * (kFillInset + kPadding) + LayoutOf(button).Width();
}
