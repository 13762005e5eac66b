#pragma once
// Keyboard use as users of both platforms expect it: Tab walks a window's fields in the order
// they are shown, a dialog starts with the focus on its first field and with the focus cue
// visible, Enter presses the dialog's default button, and a label's access key reaches a row
// of toggle buttons without pressing one.
#include <QString>
#include <vector>

class QAbstractButton;
class QDialog;
class QLabel;
class QPushButton;
class QWidget;

// The widgets of `window` that Tab stops at, in the order shown: rows from top to bottom
// (widgets whose vertical middles lie within the first one's height share a row), each row
// from left to right. Parts of compound widgets (a combo box's edit) are not counted.
std::vector<QWidget*> TabStopsAsShown(QWidget* window);

// Puts the window's Tab chain in the order TabStopsAsShown gives.
void OrderTabsAsShown(QWidget* window);

// Every showing of `dialog` starts with the focus on `firstField` (or, when it cannot take the
// focus, on the first widget in the Tab chain that can), and shows the focus cue from the
// start. `defaultButton` is pressed by Enter; every push button presses itself on Enter while
// it has the focus.
void PrepareDialogKeys(QDialog* dialog, QWidget* firstField, QPushButton* defaultButton);

// `label`'s access key moves the focus to `row` (to its pressed toggle, else its first) without
// pressing it; the toggles are named as NameTogglesByRow does.
void LabelToggleRow(QLabel* label, const std::vector<QAbstractButton*>& row);

// A toggle whose caption is seen more than once in the window takes its row's name into its
// accessible name ("WAAS ON"), so that assistive technology can tell the rows' toggles apart.
void NameTogglesByRow(const QLabel* label, const std::vector<QAbstractButton*>& row);

// A caption as shown: "&&" is one ampersand, a single one marks the access key.
QString ShownCaption(const QString& caption);
