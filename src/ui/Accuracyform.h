#pragma once
// The position accuracy window: how well the receiver holds its position, as a scatter of its
// fixes about their mean or about a reference the user types, with the figures beside it
// (sigmas, CEP50, CEP95, 2DRMS). The main window's receive loop hands it every completed
// line, shown or not, so it gathers the fixes of a live line and of a replay alike, whether
// open or not; the window redraws once a second while it is shown.
#include <QDialog>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "geo/Positionstats.h"

namespace Ui {
class TFormAccuracy;
}
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class ScatterPlot;

class TFormAccuracy : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 1000;
    // Two days at 5 Hz, 25 MB: a line left open for weeks does not fill the memory.
    static constexpr size_t kMaxFixes = 1'000'000;
    // The plot shows at most this many fixes, evenly chosen, so it draws fast with a day's.
    static constexpr size_t kMaxScatterPoints = 4000;

    explicit TFormAccuracy(QWidget* parent = nullptr);
    ~TFormAccuracy() override;

    // Shows the window beside `window` (the main window) on its first showing, moving that
    // window aside when only so the screen holds both side by side.
    void ShowBeside(QWidget* window);
    // One completed line from the receive loop, CR LF included.
    void TakeLine(const uint8_t* line, uint16_t length);
    // Shows the figures and the plot anew when fixes came or a choice changed; the window's
    // timer calls it every second.
    void TimerTimer();

    // The controls' handlers.
    void ComboBoxFilterChange(int index);
    void CheckBoxMeanClick(bool useMean);
    void ButtonApplyClick();
    void ButtonResetClick();

    const PositionStats& Stats() const { return stats_; }
    QLabel* ValueLabel(const char* name) const;
    QComboBox* ComboBoxFilter() const;
    QCheckBox* CheckBoxMean() const;
    QLineEdit* EditReference() const;
    const ScatterPlot& Plot() const { return *plot_; }
    QTimer* Timer() const { return timer_; }

    bool positioned = false;
    // Fixes beyond this many are left out (and counted) until Reset.
    size_t maxFixes = kMaxFixes;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void ReserveWidthForTheWidestFigure();
    void Refresh();
    void ShowFigures(const std::optional<AccuracyFigures>& figures);
    void ShowNote();
    // Takes the reference field as the centre; false, with the reason shown, when it is not
    // a position (the centre stays as it was).
    bool ApplyReference();
    void ShowReferenceError(const QString& text);

    Ui::TFormAccuracy* ui;
    PositionStats stats_;
    QTimer* timer_;
    std::unique_ptr<ScatterPlot> plot_;
    bool changed_ = true;
    size_t leftOut_ = 0;  // fixes that came once maxFixes were held
};

extern TFormAccuracy* FormAccuracy;
