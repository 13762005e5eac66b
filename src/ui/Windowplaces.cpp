#include "ui/Windowplaces.h"

#include <QApplication>
#include <QGroupBox>
#include <QLayout>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <optional>

#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"

namespace {
// Set on a window once it has a place in this run; only those places are stored.
constexpr const char* kPlacedProperty = "lctPlaced";

QList<QRect> ScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.append(screen->availableGeometry());
    }
    return areas;
}

// The stored place of the window, on the screens present.
struct Placement {
    QRect frame;
    QSize client;
};
std::optional<Placement> PlacementOf(const QWidget* window) {
    const auto stored = StoredPlace(window->objectName());
    if (!stored) {
        return std::nullopt;
    }
    const auto frame = ClampToScreens(stored->frame, ScreenAreas());
    if (!frame) {
        return std::nullopt;
    }
    // A frame shrunk to fit a smaller screen takes its client area down by as much.
    const QSize client = stored->client - (stored->frame.size() - frame->size());
    return Placement{*frame, client.expandedTo(QSize(1, 1))};
}
}  // namespace

bool RestoreStoredPlace(QWidget* window, bool withSize) {
    window->setProperty(kPlacedProperty, true);
    const auto place = PlacementOf(window);
    if (!place) {
        return false;
    }
    if (withSize) {
        window->resize(place->client);
    }
    window->move(place->frame.topLeft());
    return true;
}

void PlaceAtFirstShowing(QWidget* window, const QRect& bounds) {
    if (!RestoreStoredPlace(window, false)) {
        PlaceOver(window, bounds, true);
    }
}

void PlaceBesideAtFirstShowing(QWidget* dialog, QWidget* window) {
    if (RestoreStoredPlace(dialog, true)) {
        return;  // where the user left it in an earlier run
    }
    const QRect bounds = BoundsOf(window);
    const QScreen* screen = QGuiApplication::screenAt(bounds.center());
    if (screen == nullptr) {
        screen = dialog->screen();
    }
    // Framed as the main window is (the window manager frames a window only once it is on the
    // screen).
    const QSize size = dialog->size() + (bounds.size() - window->size());
    const QRect room = MakeRoomBeside(bounds, size.width(), screen->availableGeometry());
    if (room != bounds) {
        window->move(room.topLeft());
    }
    dialog->move(PlaceBeside(room, size, screen->availableGeometry()));
}

void FitToContents(QWidget* window) {
    for (QGroupBox* group : window->findChildren<QGroupBox*>()) {
        group->updateGeometry();
    }
    window->layout()->invalidate();
    window->adjustSize();
}

bool RestoreMainWindowPlace(QWidget* window) {
    return RestoreStoredPlace(window, true);
}

void StoreWindowPlaces() {
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window->property(kPlacedProperty).toBool() && !window->objectName().isEmpty()) {
            StorePlace(window->objectName(), {window->frameGeometry(), window->size()});
        }
    }
}
