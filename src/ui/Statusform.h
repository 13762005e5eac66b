#pragma once
// The receiver status window: what the receiver's sentences say about its fix and its
// signals, how long ago each kind of sentence came, and a plot of the signal levels over the
// last ten minutes. The main window's receive loop hands it every completed line, shown or
// not; the status model takes them whether the window is open or not, and the window redraws
// once a second while it is shown.
#include <QDialog>
#include <QRect>
#include <cstdint>
#include <memory>

#include "config/Receiverstatus.h"

namespace Ui {
class TFormStatus;
}
class QLabel;
class QTimer;
class SignalPlot;

class TFormStatus : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 1000;

    explicit TFormStatus(QWidget* parent = nullptr);
    ~TFormStatus() override;

    // Shows the window beside `window` (the main window) on its first showing, moving that
    // window aside when only so the screen holds both side by side.
    void ShowBeside(QWidget* window);
    // One completed line from the receive loop, CR LF included.
    void TakeLine(const uint8_t* line, uint16_t length);
    // Refreshes the values, the ages and the plot; the window's timer calls it every second.
    void TimerTimer();
    // Forgets what was heard and counted: the lines that follow come from another source (a
    // replay starts or ends).
    void Restart();

    const ReceiverStatus& Status() const { return status_; }
    QLabel* ValueLabel(const char* name) const;
    const SignalPlot& Plot() const { return *plot_; }
    QTimer* Timer() const { return timer_; }

    bool positioned = false;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void BuildSentenceGrid();
    void BuildPlot();
    void ShowValues();
    // Sizes the window to the values it shows now.
    void FitToValues();
    void ShowSentences(int64_t nowMs);
    void ShowPlot(int64_t nowMs);

    Ui::TFormStatus* ui;
    ReceiverStatus status_;
    QTimer* timer_;
    std::unique_ptr<SignalPlot> plot_;
    QLabel* countLabels_[kNmeaKindCount] = {};
    QLabel* ageLabels_[kNmeaKindCount] = {};
};

extern TFormStatus* FormStatus;
