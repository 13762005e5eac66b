#pragma once
// Appending lines to a read-only text area with a line limit.
#include <QString>

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

// The current time of day, ": " and the text: a line as the display shows it.
QString StampedLine(const QString& text);

// AddLine of the current time of day, ": " and the text.
void AddStampedLine(const QString& text, QPlainTextEdit* memo, int limit);
