#pragma once
// The status window's plot of L1 SNR, L2 SNR and correction level over the last minutes, drawn
// by the program itself with QPainter, so that every build (Linux, and the static Qt for
// Windows) shows the same plot with nothing beyond Qt Widgets.
#include <QList>
#include <QPointF>
#include <array>

class QBoxLayout;
class QColor;
class QWidget;

class SignalPlot {
  public:
    static constexpr int kSeries = 3;  // L1 SNR, L2 SNR, correction level
    // The dB axis spans at most these, whatever the receiver sends: a value beyond them is
    // drawn at the plot's edge.
    static constexpr double kLowestDb = -20;
    static constexpr double kHighestDb = 100;
    using Points = std::array<QList<QPointF>, kSeries>;

    // Adds the plot to `layout`, owned by `parent`, for the last `minutes` (x from -minutes to 0).
    SignalPlot(QWidget* parent, QBoxLayout* layout, int minutes);
    ~SignalPlot();
    SignalPlot(const SignalPlot&) = delete;
    SignalPlot& operator=(const SignalPlot&) = delete;

    // Replaces the curves (x in minutes before now, y in dB); the dB axis spans whole tens from
    // `low` (or 0) up to `high` (or 60), within kLowestDb to kHighestDb.
    void Show(const Points& points, double low, double high);
    // Whether a value lies within the axis's widest span, and so is drawn where it is.
    static bool OnScale(double dB);
    // The dB axis as shown: its bottom and top.
    double AxisBottom() const;
    double AxisTop() const;
    // The grid lines (minutes and tens of dB) the last paint drew.
    int GridLinesPainted() const;
    // The points of one curve as shown.
    int PointCount(int series) const;
    // Its last point's x (0 when it has none).
    double LastX(int series) const;
    // The colour a curve is drawn in: the tests that look at the screen search for it.
    static QColor SeriesColor(int series);

  private:
    class View;
    View* view_;  // owned by its parent widget
};
