#pragma once
// The about window: a six-second splash at start-up, and an About box with Close.
#include <QDialog>

namespace Ui {
class TFormAbout;
}
class QTimer;

class TFormAbout : public QDialog {
    Q_OBJECT
  public:
    explicit TFormAbout(QWidget* parent = nullptr);
    ~TFormAbout() override;

    // Shows the splash over bounds; the timer hides it after six ticks.
    void ShowSplash(const QRect& bounds);
    // Shows the About box with its Close button over bounds.
    void ShowOver(const QRect& bounds);

    void TimerTimer();
    void ButtonCloseClick();
    // Shows the licence and the third-party notices, one tab each.
    void ButtonLicencesClick();

    int TickCount() const { return tickCount_; }
    QTimer* Timer() const { return timer_; }
    QWidget* ButtonClose() const;

  private:
    void SetStayOnTop(bool onTop);

    Ui::TFormAbout* ui;
    QTimer* timer_;
    int tickCount_ = 0;
    QDialog* licences_ = nullptr;
};

// The window of the program's licence and the third-party notices, built into the program.
QDialog* CreateLicencesWindow(QWidget* parent);

// The logo drawn for the about window.
QPixmap DrawMarksLogo(int size);

extern TFormAbout* FormAbout;
