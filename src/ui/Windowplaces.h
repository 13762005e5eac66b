#pragma once
// Where the windows stand across runs: each window goes back to where it stood when the
// program last ended, clamped to the screens present; one whose place lies off every screen,
// or that has none stored, is placed as on a first run.
class QRect;
class QWidget;

// Moves the window (and with `withSize` sizes it) to its stored place, and marks it for storing
// at the end of the run. Returns false, leaving the window as it is, when there is none.
bool RestoreStoredPlace(QWidget* window, bool withSize);

// A dialog's first showing in a run: its stored place, else centred over `bounds` (at least 0).
void PlaceAtFirstShowing(QWidget* window, const QRect& bounds);

// A window's first showing beside `window` (the main window): its stored place and size, else
// beside it on its screen at the size it has now, moving `window` aside when only so the screen
// holds both side by side.
void PlaceBesideAtFirstShowing(QWidget* dialog, QWidget* window);

// Sizes a window not shown yet to what its labels show now: the layouts of such a window do
// not follow their labels' texts by themselves, so each group is told that its size changed.
void FitToContents(QWidget* window);

// The main window at start-up: its stored place and size. Returns false, leaving the window
// as it is, when there is none to go back to.
bool RestoreMainWindowPlace(QWidget* window);

// Stores the place of every window placed in this run, under its object name.
void StoreWindowPlaces();
