#pragma once
// The note window: a modal box with one message and OK, centred over its caller.
#include <QDialog>

namespace Ui {
class TFormNote;
}
class QLabel;
class QWidget;

class TFormNote : public QDialog {
    Q_OBJECT
  public:
    explicit TFormNote(QWidget* parent = nullptr);
    ~TFormNote() override;

    // Shows text centred over bounds (not clamped) and returns when the user closed it.
    void ShowMessageOver(const QRect& bounds, const QString& text);

    QLabel* Label() const;
    QWidget* ButtonOK() const;

  private:
    Ui::TFormNote* ui;
};

// Lays out a message window: centred over bounds without clamping, the label across the
// client width less 20, from 10 down to 8 above the button; the window grows taller than
// designed when the text needs more lines.
void LayOutMessage(QWidget* window, QLabel* label, QWidget* button, const QRect& bounds, const QString& text);

extern TFormNote* FormNote;
