#include "ui/Windowplaces.h"

#include <QApplication>
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

void PlaceBesideAtFirstShowing(QWidget* window, const QRect& bounds) {
    if (RestoreStoredPlace(window, true)) {
        return;  // where the user left it in an earlier run
    }
    const QScreen* screen = QGuiApplication::screenAt(bounds.center());
    if (screen == nullptr) {
        screen = window->screen();
    }
    window->winId();  // a window with a native window knows its frame, and so its outer size
    window->move(PlaceBeside(bounds, window->frameGeometry().size(), screen->availableGeometry()));
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
