#include "ui/Scaleutils.h"

#include <QAbstractScrollArea>
#include <QVariant>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace {
struct Extent {
    int right = 0;
    int bottom = 0;
    int left = 10000;
    int top = 10000;
    int sumHeights = 0;
    int sumWidths = 0;
};

void Accumulate(Extent& e, const QWidget* child) {
    const QString align = child->property(kAlignProperty).toString();
    const QRect g = child->geometry();
    if (align.isEmpty()) {
        e.right = std::max(e.right, g.x() + g.width());
        e.bottom = std::max(e.bottom, g.y() + g.height());
        e.left = std::min(e.left, g.x());
        e.top = std::min(e.top, g.y());
    } else if (align == "top" || align == "bottom") {
        e.sumHeights += g.height();
    } else if (align == "left" || align == "right") {
        e.sumWidths += g.width();
    }
}
}  // namespace

void FitClientToControls(QWidget* form) {
    if (auto* scroll = qobject_cast<QAbstractScrollArea*>(form)) {
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    Extent e;
    for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // Hidden means hidden explicitly: at construction nothing is on screen yet.
        if (!child->isHidden() && !child->isWindow()) {
            Accumulate(e, child);
        }
    }
    QSize client = form->size();
    if (e.left != 10000) {
        client.setWidth(e.sumWidths + e.right + e.left);
    }
    if (e.top != 10000) {
        client.setHeight(e.bottom + e.sumHeights + e.top);
    }
    form->resize(client);
}

QPoint CentredOver(const QRect& bounds, const QSize& size, bool clampToZero) {
    int left = bounds.left() + (bounds.width() - size.width()) / 2;
    int top = bounds.top() + (bounds.height() - size.height()) / 2;
    if (clampToZero) {
        left = std::max(left, 0);
        top = std::max(top, 0);
    }
    return {left, top};
}

std::optional<QRect> ClampToScreens(const QRect& saved, const QList<QRect>& screens) {
    const QRect* best = nullptr;
    qint64 bestArea = 0;
    for (const QRect& screen : screens) {
        const QRect overlap = saved.intersected(screen);
        const qint64 area = overlap.isEmpty() ? 0 : qint64{overlap.width()} * overlap.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    QRect placed(saved.topLeft(), saved.size().boundedTo(best->size()));
    placed.moveLeft(std::clamp(placed.left(), best->left(), best->right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), best->top(), best->bottom() - placed.height() + 1));
    return placed;
}

void PlaceOver(QWidget* window, const QRect& bounds, bool clampToZero) {
    window->winId();  // a window with a native window knows its frame, and so its outer size
    window->move(CentredOver(bounds, window->frameGeometry().size(), clampToZero));
}

QPoint PlaceBeside(const QRect& bounds, const QSize& size, const QRect& screen) {
    const int rightRoom = screen.right() - bounds.right();
    const int leftRoom = bounds.left() - screen.left();
    int x = bounds.right() + 1;
    if (rightRoom < size.width() && (leftRoom >= size.width() || leftRoom > rightRoom)) {
        x = bounds.left() - size.width();
    }
    x = std::max(screen.left(), std::min(x, screen.right() + 1 - size.width()));
    const int y = std::max(screen.top(), std::min(bounds.top(), screen.bottom() + 1 - size.height()));
    return {x, y};
}

QRect MakeRoomBeside(const QRect& bounds, int width, const QRect& screen) {
    const int rightRoom = screen.right() - bounds.right();
    const int leftRoom = bounds.left() - screen.left();
    if (rightRoom >= width || leftRoom >= width || bounds.width() + width > screen.width()) {
        return bounds;
    }
    return bounds.translated(rightRoom - width, 0);
}

QRect BoundsOf(const QWidget* window) {
    return window->frameGeometry();
}

void SetStaysOnTop(QWidget* window, bool onTop) {
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow* native = window->windowHandle()) {
        // setWindowFlags() would recreate the native window and so hide a visible one; the
        // window system takes the new style on the window as it is.
        window->overrideWindowFlags(flags);
        native->setFlags(flags);
        return;
    }
    window->setWindowFlags(flags);  // not created yet: nothing on screen to lose
}
