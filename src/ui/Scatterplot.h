#pragma once
// The accuracy window's plot: the fixes as east and north in metres about the centre, with
// circles at CEP50 and CEP95 and the centre marked, drawn with QPainter. A metre is as long
// across as up. The axes span a round number of metres chosen from the fixes, but never wider
// than the bulk of them warrants: a fix far beyond (a receiver's absurd coordinate) is drawn
// at the edge and counted, so that it neither stretches the plot nor lengthens a loop.
#include <QColor>
#include <cstddef>
#include <vector>

#include "geo/Positionstats.h"

class QBoxLayout;
class QWidget;

// The span of both axes: -halfRangeM to +halfRangeM, a grid line every stepM, labels in
// units of unitM (0.01 cm, 1 m, 1000 km) with `decimals` places.
struct ScatterScale {
    double halfRangeM = 1;
    double stepM = 0.2;
    double unitM = 1;
    int decimals = 1;
};

// The scale for the points (east and north about the centre) and the CEP95: the points and
// the CEP95 circle within the plot, except those farther out than several times the median
// distance; from 1 cm to 20,000 km, in steps of 1, 2, 3, 4, 5, 6 or 8 times a power of ten.
ScatterScale ChooseScatterScale(const std::vector<EastNorth>& points, double cep95M);

class ScatterPlot {
  public:
    // What the last paint drew, for the tests: the points inside, those at the edge, and the
    // grid lines.
    struct Painted {
        size_t inside = 0;
        size_t atEdge = 0;
        int gridLines = 0;
    };

    // Adds the plot to `layout`, owned by `parent`.
    ScatterPlot(QWidget* parent, QBoxLayout* layout);
    ~ScatterPlot() = default;
    ScatterPlot(const ScatterPlot&) = delete;
    ScatterPlot& operator=(const ScatterPlot&) = delete;

    // Replaces the points (east and north about the centre) and the circles; `aboutReference`
    // names the centre in the legend. Nothing to show without figures.
    void Show(std::vector<EastNorth> points, const AccuracyFigures* figures);
    const ScatterScale& Scale() const;
    // The points shown that lie beyond the edge (or are not numbers).
    size_t BeyondEdge() const;
    const Painted& LastPaint() const;
    QWidget* Widget() const;
    // The colour the fixes are drawn in: the tests that look at the screen search for it.
    static QColor PointColor();

  private:
    class View;
    View* view_;  // owned by its parent widget
};
