#pragma once
// Window geometry rules shared by every window: fitting the client area to the controls,
// and centring a window over another one's bounds.
#include <QList>
#include <QRect>
#include <optional>

class QWidget;

// Name of the dynamic property that marks a child as aligned to an edge of its form:
// "top", "bottom", "left", "right" or "client". Unmarked children stand free.
inline constexpr const char* kAlignProperty = "lctAlign";

// Sizes the form's client area so that the free margin right and below its free-standing,
// non-hidden direct children equals the smallest left and top offsets among them; children
// aligned to an edge add their height or width. A form without free-standing children keeps
// its size.
void FitClientToControls(QWidget* form);

// The top-left corner that centres a window of outer size `size` over `bounds`, halves
// rounded toward zero; with `clampToZero` a negative coordinate becomes 0.
QPoint CentredOver(const QRect& bounds, const QSize& size, bool clampToZero);

// Where a window whose frame stood at `saved` goes on the screens present (`screens`: their
// available areas): onto the screen it overlaps most, shrunk to that screen's size if larger
// and moved as little as needed to lie wholly on it. None when it overlaps no screen.
std::optional<QRect> ClampToScreens(const QRect& saved, const QList<QRect>& screens);

// The top-left corner for a window of outer size `size` beside `bounds` on a screen whose
// available area is `screen`: right of the bounds if it fits there, else left of them if it
// fits there, else on the side with more room; always inside the screen as far as it can be.
QPoint PlaceBeside(const QRect& bounds, const QSize& size, const QRect& screen);

// Where a window whose frame is `bounds` moves so that a window `width` wide fits beside it on a
// screen whose available area is `screen`: left, just enough for the other to fit on its right.
// It stays where it is when either side has the room already, or when the screen cannot hold
// the two side by side.
QRect MakeRoomBeside(const QRect& bounds, int width, const QRect& screen);

// Moves a top-level window so that its frame is centred over `bounds`.
void PlaceOver(QWidget* window, const QRect& bounds, bool clampToZero);

// A window's bounds rectangle: its frame in screen coordinates.
QRect BoundsOf(const QWidget* window);

// Sets or clears a top-level window's stay-on-top style without taking a visible window off
// the screen (QWidget::setWindowFlags would hide it).
void SetStaysOnTop(QWidget* window, bool onTop);
