#pragma once
// Appending lines to a read-only text area with a line limit.
#include <QFont>
#include <QString>
#include <cstdint>

class QPlainTextEdit;
class QWidget;

// How many text lines fit in the control: (client height - 2) / (|font pixel height| + 2), and
// never more than the font's line spacing lets a memo show without scrolling.
int LinesThatFit(const QWidget* control);

// The number of lines the memo holds (an empty memo holds none).
int LineCount(const QPlainTextEdit* memo);

// In one edit, drops the oldest lines while there are at least `limit` (when limit > 0),
// then appends text as the new last line and keeps it in view.
void AddLine(const QString& text, QPlainTextEdit* memo, int limit);

// The time of day (of calendar time t; 0: now), ": " and the text: a line as the display
// shows it.
QString StampedLine(const QString& text, int64_t t = 0);

// AddLine of the current time of day, ": " and the text.
void AddStampedLine(const QString& text, QPlainTextEdit* memo, int limit);

// A fixed-pitch font of the base font's size: Consolas, else Courier New (one of them is on
// every Windows), else the platform's own fixed font.
QFont FixedPitchFont(const QFont& base);

// Gives the window the fixed-pitch font where the platform's default would not line up the
// columns of sentences and values (Windows); elsewhere leaves it as it is.
void UseFixedPitchOnWindows(QWidget* window);
