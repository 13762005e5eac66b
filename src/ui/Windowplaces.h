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

// A window's first showing beside another's `bounds` (the status and accuracy windows beside
// the main window): its stored place and size, else beside the bounds on their screen.
void PlaceBesideAtFirstShowing(QWidget* window, const QRect& bounds);

// The main window at start-up: its stored place and size. Returns false, leaving the window
// as it is, when there is none to go back to.
bool RestoreMainWindowPlace(QWidget* window);

// Stores the place of every window placed in this run, under its object name.
void StoreWindowPlaces();
