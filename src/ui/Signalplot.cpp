#include "ui/Signalplot.h"

#include <QBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {
const char* const kSeriesNames[SignalPlot::kSeries] = {"L1 SNR", "L2 SNR", "Correction level"};
constexpr int kTickLength = 4;
constexpr int kLegendSwatch = 18;  // length of a legend's line sample, in pixels at 100 %
}  // namespace

// The drawing: axes with a tick and label at every minute and every ten dB, a light grid, the
// curves clipped to the plot area, and a legend under the x axis's title. Every distance that
// holds text comes from the font, so the plot keeps its labels clear at any scale.
class SignalPlot::View : public QWidget {
  public:
    View(QWidget* parent, int minutes) : QWidget(parent), minutes_(minutes) {
        setObjectName("PlotSignal");
        setMinimumSize(560, 250);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void SetCurves(const Points& points, double bottom, double top) {
        points_ = points;
        bottom_ = bottom;
        top_ = top;
        update();
    }
    const Points& Curves() const { return points_; }
    double Bottom() const { return bottom_; }
    double Top() const { return top_; }
    int GridLinesPainted() const { return gridLines_; }

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().base());
        gridLines_ = 0;
        const QRect area = PlotArea();
        DrawGridAndAxes(painter, area);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRect(area.adjusted(0, 0, 1, 1));
        for (int s = 0; s < kSeries; ++s) {
            DrawCurve(painter, area, points_[static_cast<size_t>(s)], SeriesColor(s));
        }
        painter.setClipping(false);
        DrawLegend(painter, area);
    }

  private:
    // The rectangle inside the axes: room on the left for the dB labels and title, below for
    // the minute labels, the axis title and the legend.
    QRect PlotArea() const {
        const QFontMetrics metrics = fontMetrics();
        const int line = metrics.height();
        const int left = line + metrics.horizontalAdvance(QStringLiteral("-100")) + 2 * kTickLength;
        const int right = metrics.horizontalAdvance(QStringLiteral("0")) / 2 + 6;
        const int below = kTickLength + 3 * line + 8;
        const int above = line / 2 + 2;
        return rect().adjusted(left, above, -right, -below);
    }

    double XPixel(const QRect& area, double minutes) const {
        return area.left() + (minutes + minutes_) / minutes_ * area.width();
    }
    // A value beyond the axis is drawn at its edge.
    double YPixel(const QRect& area, double dB) const {
        const double shown = std::clamp(dB, bottom_, top_);
        return area.bottom() - (shown - bottom_) / (top_ - bottom_) * area.height();
    }

    void DrawGridAndAxes(QPainter& painter, const QRect& area) const {
        const QFontMetrics metrics = fontMetrics();
        const QColor grid = palette().color(QPalette::Mid).lighter(130);
        const QPen axisPen(palette().color(QPalette::Text));
        for (int m = -minutes_; m <= 0; ++m) {
            const int x = static_cast<int>(std::lround(XPixel(area, m)));
            painter.setPen(grid);
            painter.drawLine(x, area.top(), x, area.bottom());
            painter.setPen(axisPen);
            painter.drawLine(x, area.bottom(), x, area.bottom() + kTickLength);
            const QString label = QString::number(m);
            painter.drawText(QRect(x - 40, area.bottom() + kTickLength, 80, metrics.height()),
                             Qt::AlignHCenter, label);
            ++gridLines_;
        }
        const auto tens = static_cast<int>(std::lround((top_ - bottom_) / 10.0));
        for (int ten = 0; ten <= tens; ++ten) {
            const double dB = bottom_ + 10.0 * ten;
            const int y = static_cast<int>(std::lround(YPixel(area, dB)));
            painter.setPen(grid);
            painter.drawLine(area.left(), y, area.right(), y);
            painter.setPen(axisPen);
            painter.drawLine(area.left() - kTickLength, y, area.left(), y);
            const QRect labelBox(0, y - metrics.height() / 2, area.left() - kTickLength - 2,
                                 metrics.height());
            painter.drawText(labelBox, Qt::AlignRight | Qt::AlignVCenter, QString::number(std::lround(dB)));
            ++gridLines_;
        }
        painter.setPen(axisPen);
        painter.drawRect(area);
        const QRect xTitle(area.left(), area.bottom() + kTickLength + metrics.height(), area.width(),
                           metrics.height());
        painter.drawText(xTitle, Qt::AlignHCenter, QStringLiteral("minutes (0 = now)"));
        painter.save();
        painter.translate(0, area.center().y());
        painter.rotate(-90);
        painter.drawText(QRect(-area.height() / 2, 0, area.height(), metrics.height()), Qt::AlignHCenter,
                         QStringLiteral("dB"));
        painter.restore();
    }

    void DrawCurve(QPainter& painter, const QRect& area, const QList<QPointF>& curve,
                   const QColor& color) const {
        if (curve.isEmpty()) {
            return;
        }
        QPainterPath path;
        path.moveTo(XPixel(area, curve.front().x()), YPixel(area, curve.front().y()));
        for (const QPointF& p : curve) {
            path.lineTo(XPixel(area, p.x()), YPixel(area, p.y()));
        }
        painter.setPen(QPen(color, 2));
        painter.drawPath(path);
    }

    void DrawLegend(QPainter& painter, const QRect& area) const {
        const QFontMetrics metrics = fontMetrics();
        const int swatch = metrics.height() * kLegendSwatch / 13;
        const int gap = metrics.horizontalAdvance(QStringLiteral("MM"));
        int width = 0;
        for (const char* name : kSeriesNames) {
            width += swatch + 4 + metrics.horizontalAdvance(QLatin1String(name)) + gap;
        }
        int x = area.center().x() - (width - gap) / 2;
        const int y = area.bottom() + kTickLength + 2 * metrics.height() + 4;
        for (int s = 0; s < kSeries; ++s) {
            painter.setPen(QPen(SeriesColor(s), 2));
            painter.drawLine(x, y + metrics.height() / 2, x + swatch, y + metrics.height() / 2);
            x += swatch + 4;
            const QString name = QLatin1String(kSeriesNames[s]);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(QRect(x, y, metrics.horizontalAdvance(name) + 2, metrics.height()),
                             Qt::AlignLeft, name);
            x += metrics.horizontalAdvance(name) + gap;
        }
    }

    int minutes_;
    Points points_;
    double bottom_ = 0;
    double top_ = 60;
    mutable int gridLines_ = 0;
};

SignalPlot::SignalPlot(QWidget* parent, QBoxLayout* layout, int minutes) : view_(new View(parent, minutes)) {
    layout->addWidget(view_);
}

SignalPlot::~SignalPlot() = default;

void SignalPlot::Show(const Points& points, double low, double high) {
    // Whole tens of dB, 0 to 60 unless the values go beyond, and never past the widest span:
    // the number of grid lines stays small whatever the receiver sends.
    const double bottom = std::floor(std::clamp(low, kLowestDb, 0.0) / 10.0) * 10.0;
    const double top = std::ceil(std::clamp(high, 60.0, kHighestDb) / 10.0) * 10.0;
    view_->SetCurves(points, std::isnan(bottom) ? 0.0 : bottom, std::isnan(top) ? 60.0 : top);
}

bool SignalPlot::OnScale(double dB) {
    return dB >= kLowestDb && dB <= kHighestDb;
}

double SignalPlot::AxisBottom() const {
    return view_->Bottom();
}

double SignalPlot::AxisTop() const {
    return view_->Top();
}

int SignalPlot::GridLinesPainted() const {
    return view_->GridLinesPainted();
}

int SignalPlot::PointCount(int series) const {
    return static_cast<int>(view_->Curves()[static_cast<size_t>(series)].size());
}

double SignalPlot::LastX(int series) const {
    const QList<QPointF>& curve = view_->Curves()[static_cast<size_t>(series)];
    return curve.isEmpty() ? 0.0 : curve.back().x();
}

QColor SignalPlot::SeriesColor(int series) {
    // Dark enough to read on white, far enough apart to tell apart, and not a shade the
    // platform styles use for frames or text.
    static const QColor colors[kSeries] = {QColor(0, 90, 210), QColor(0, 150, 70), QColor(210, 90, 0)};
    return colors[series];
}
