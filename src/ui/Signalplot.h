#pragma once
// The status window's plot of L1 SNR, L2 SNR and correction level over the last minutes.
// Drawn with Qt Charts where the build has it (Signalplot_charts.cpp); a build of Qt without
// Charts (the static Qt cross-built for Windows from Debian's qt6-base alone) shows a line that
// says so instead (Signalplot_none.cpp).
#include <QList>
#include <QPointF>
#include <array>

class QBoxLayout;
class QWidget;

class SignalPlot {
  public:
    static constexpr int kSeries = 3;  // L1 SNR, L2 SNR, correction level
    using Points = std::array<QList<QPointF>, kSeries>;

    // Adds the plot to `layout`, owned by `parent`, for the last `minutes` (x from -minutes to 0).
    SignalPlot(QWidget* parent, QBoxLayout* layout, int minutes);
    ~SignalPlot();
    SignalPlot(const SignalPlot&) = delete;
    SignalPlot& operator=(const SignalPlot&) = delete;

    // Replaces the curves (x in minutes before now, y in dB); the dB axis spans whole tens from
    // `low` (or 0) up to `high` (or 60).
    void Show(const Points& points, double low, double high);
    // The points of one curve as shown (0 where the build has no plot).
    int PointCount(int series) const;
    // Its last point's x (0 when it has none).
    double LastX(int series) const;

  private:
    struct Parts;
    Parts* parts_;
};
