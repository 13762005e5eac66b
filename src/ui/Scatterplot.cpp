#include "ui/Scatterplot.h"

#include <QBoxLayout>
#include <QPainter>
#include <QPolygonF>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr double kMinHalfRangeM = 0.01;
constexpr double kMaxHalfRangeM = 2.0e7;
constexpr double kOutlierFactor = 8.0;  // a fix this many median distances out does not widen the plot
constexpr double kRoom = 1.05;          // the farthest fix stands a little inside the edge
constexpr double kCentimetresUpToM = 0.2;
constexpr double kKilometresFromM = 5000.0;
constexpr int kTickLength = 4;
constexpr int kLegendRows = 3;
constexpr int kMarkSize = 4;  // half the size of the centre's cross and an edge mark, at 100 %

const QColor kCep50Color(0, 150, 70);
const QColor kCep95Color(210, 90, 0);
const QColor kEdgeColor(200, 0, 0);

// The unit, and the value's decimals, for labels every stepM on a half range.
void ChooseUnit(ScatterScale& scale) {
    scale.unitM = scale.halfRangeM <= kCentimetresUpToM  ? 0.01
                  : scale.halfRangeM >= kKilometresFromM ? 1000.0
                                                         : 1.0;
    const double step = scale.stepM / scale.unitM;
    scale.decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

QString UnitName(const ScatterScale& scale) {
    return scale.unitM < 1   ? QStringLiteral("cm")
           : scale.unitM > 1 ? QStringLiteral("km")
                             : QStringLiteral("m");
}

}  // namespace

ScatterScale ChooseScatterScale(const std::vector<EastNorth>& points, double cep95M) {
    std::vector<double> radii;
    radii.reserve(points.size());
    for (const EastNorth& p : points) {
        const double radius = std::hypot(p.eastM, p.northM);
        if (std::isfinite(radius)) {
            radii.push_back(radius);
        }
    }
    std::sort(radii.begin(), radii.end());
    // The bulk's spread: the median distance, or a higher percentile when most fixes sit on
    // the centre itself.
    double spread = 0;
    for (const double share : {0.5, 0.75, 0.9, 0.95}) {
        if (spread == 0 && !radii.empty()) {
            spread = radii[static_cast<size_t>(std::ceil(share * static_cast<double>(radii.size()))) - 1];
        }
    }
    const double limit = std::max(kOutlierFactor * spread, kMinHalfRangeM);
    double wanted = std::isfinite(cep95M) && cep95M <= limit ? cep95M : 0.0;
    for (const EastNorth& p : points) {
        const double along = std::max(std::fabs(p.eastM), std::fabs(p.northM));
        if (along <= limit) {
            wanted = std::max(wanted, along);
        }
    }
    wanted = std::clamp(wanted * kRoom, kMinHalfRangeM, kMaxHalfRangeM);
    const double power = std::pow(10.0, std::floor(std::log10(wanted)));
    ScatterScale scale;
    // Grid lines at round values: 4 to 6 divisions a side.
    constexpr struct {
        double mantissa;
        int divisions;
    } kSpans[] = {{1, 5}, {2, 4}, {3, 6}, {4, 4}, {5, 5}, {6, 6}, {8, 4}, {10, 5}};
    for (const auto& span : kSpans) {
        if (span.mantissa * power >= wanted * (1 - 1e-9)) {
            scale.halfRangeM = span.mantissa * power;
            scale.stepM = scale.halfRangeM / span.divisions;
            break;
        }
    }
    ChooseUnit(scale);
    return scale;
}

// The drawing: a square plot area with a light grid and labelled axes, the fixes as dots, the
// CEP circles and the centre's cross clipped to it, and a legend below. Every distance that
// holds text comes from the font, so the plot keeps its labels clear at any scale.
class ScatterPlot::View : public QWidget {
  public:
    explicit View(QWidget* parent) : QWidget(parent) {
        setObjectName("PlotScatter");
        setMinimumSize(300, 340);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void Set(std::vector<EastNorth> points, const AccuracyFigures* figures) {
        points_ = std::move(points);
        hasFigures_ = figures != nullptr;
        cep50_ = hasFigures_ ? figures->cep50M : 0;
        cep95_ = hasFigures_ ? figures->cep95M : 0;
        aboutReference_ = hasFigures_ && figures->aboutReference;
        scale_ = ChooseScatterScale(points_, cep95_);
        beyond_ = static_cast<size_t>(
            std::count_if(points_.begin(), points_.end(), [this](const EastNorth& p) { return !Inside(p); }));
        update();
    }

    ScatterScale scale_;
    size_t beyond_ = 0;
    Painted painted_;

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().base());
        painted_ = {};
        const QRect area = PlotArea();
        DrawGridAndAxes(painter, area);
        painter.setClipRect(area.adjusted(0, 0, 1, 1));
        QPolygonF edge;
        if (hasFigures_) {
            edge = DrawPoints(painter, area);
            painter.setRenderHint(QPainter::Antialiasing);
            DrawCircle(painter, area, cep50_, QPen(kCep50Color, 2));
            DrawCircle(painter, area, cep95_, QPen(kCep95Color, 2, Qt::DashLine));
        }
        DrawCentre(painter, area);
        painter.setClipping(false);  // the marks on the edge stand out over it
        DrawEdgeMarks(painter, edge);
        DrawLegend(painter, area);
    }

  private:
    bool Inside(const EastNorth& p) const {
        return std::fabs(p.eastM) <= scale_.halfRangeM && std::fabs(p.northM) <= scale_.halfRangeM;
    }

    QString Label(double metres) const {
        const double value = metres / scale_.unitM;
        return QString::number(std::fabs(value) < 1e-9 ? 0.0 : value, 'f', scale_.decimals);
    }

    int Divisions() const { return static_cast<int>(std::lround(scale_.halfRangeM / scale_.stepM)); }

    int WidestLabel() const {
        const QFontMetrics metrics = fontMetrics();
        int widest = 0;
        for (int i = -Divisions(); i <= Divisions(); ++i) {
            widest = std::max(widest, metrics.horizontalAdvance(Label(i * scale_.stepM)));
        }
        return widest;
    }

    // The largest square inside the margins: room on the left for the north labels and title,
    // below for the east labels, the title and the legend.
    QRect PlotArea() const {
        const QFontMetrics metrics = fontMetrics();
        const int line = metrics.height();
        const int left = line + WidestLabel() + kTickLength + 6;
        const int right = WidestLabel() / 2 + 6;
        const int above = line / 2 + 2;
        const int below = kTickLength + (2 + kLegendRows) * line + 12;
        const QRect room = rect().adjusted(left, above, -right, -below);
        const int side = std::max(1, std::min(room.width(), room.height()));
        return {room.left() + (room.width() - side) / 2, room.top() + (room.height() - side) / 2, side, side};
    }

    QPointF Pixel(const QRect& area, double eastM, double northM) const {
        const double perMetre = area.width() / (2 * scale_.halfRangeM);
        return {area.center().x() + eastM * perMetre, area.center().y() - northM * perMetre};
    }

    void DrawGridAndAxes(QPainter& painter, const QRect& area) {
        const QFontMetrics metrics = fontMetrics();
        const QColor grid = palette().color(QPalette::Mid).lighter(130);
        const QPen axisPen(palette().color(QPalette::Text));
        const int divisions = Divisions();
        const double spacing = area.width() / (2.0 * divisions);
        int labelEvery = 1;
        while (labelEvery < divisions && WidestLabel() + 6 > spacing * labelEvery) {
            ++labelEvery;
        }
        for (int i = -divisions; i <= divisions; ++i) {
            const QPointF at = Pixel(area, i * scale_.stepM, i * scale_.stepM);
            const int x = static_cast<int>(std::lround(at.x()));
            const int y = static_cast<int>(std::lround(at.y()));
            painter.setPen(i == 0 ? QPen(grid.darker(140)) : QPen(grid));
            painter.drawLine(x, area.top(), x, area.bottom());
            painter.drawLine(area.left(), y, area.right(), y);
            painted_.gridLines += 2;
            painter.setPen(axisPen);
            painter.drawLine(x, area.bottom(), x, area.bottom() + kTickLength);
            painter.drawLine(area.left() - kTickLength, y, area.left(), y);
            if (i % labelEvery != 0) {
                continue;
            }
            const QString label = Label(i * scale_.stepM);
            const int half = metrics.horizontalAdvance(label) / 2 + 2;
            painter.drawText(QRect(x - half, area.bottom() + kTickLength, 2 * half, metrics.height()),
                             Qt::AlignHCenter, label);
            painter.drawText(
                QRect(0, y - metrics.height() / 2, area.left() - kTickLength - 2, metrics.height()),
                Qt::AlignRight | Qt::AlignVCenter, label);
        }
        painter.setPen(axisPen);
        painter.drawRect(area);
        const QString unit = UnitName(scale_);
        const QRect xTitle(area.left(), area.bottom() + kTickLength + metrics.height(), area.width(),
                           metrics.height());
        painter.drawText(xTitle, Qt::AlignHCenter, QStringLiteral("east (%1)").arg(unit));
        painter.save();
        painter.translate(0, area.center().y());
        painter.rotate(-90);
        painter.drawText(QRect(-area.height() / 2, 0, area.height(), metrics.height()), Qt::AlignHCenter,
                         QStringLiteral("north (%1)").arg(unit));
        painter.restore();
    }

    // The fixes inside as dots; where those beyond the edge meet it, for DrawEdgeMarks (a
    // point that is not a number has no place).
    QPolygonF DrawPoints(QPainter& painter, const QRect& area) {
        QPolygonF inside;
        QPolygonF edge;
        for (const EastNorth& p : points_) {
            if (Inside(p)) {
                inside << Pixel(area, p.eastM, p.northM);
            } else if (!std::isnan(p.eastM) && !std::isnan(p.northM)) {
                edge << Pixel(area, std::clamp(p.eastM, -scale_.halfRangeM, scale_.halfRangeM),
                              std::clamp(p.northM, -scale_.halfRangeM, scale_.halfRangeM));
            }
        }
        painter.setPen(QPen(PointColor(), 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawPoints(inside);
        painted_.inside = static_cast<size_t>(inside.size());
        return edge;
    }

    void DrawEdgeMarks(QPainter& painter, const QPolygonF& edge) {
        const int mark = Mark();
        painter.setPen(QPen(kEdgeColor, 2));
        for (const QPointF& p : edge) {
            painter.drawLine(p + QPointF(-mark, -mark), p + QPointF(mark, mark));
            painter.drawLine(p + QPointF(-mark, mark), p + QPointF(mark, -mark));
        }
        painted_.atEdge = static_cast<size_t>(edge.size());
    }

    // Whether a circle of the radius shows in the plot: one wider than its corners does not.
    bool Shows(double radiusM) const {
        return std::isfinite(radiusM) && radiusM <= std::sqrt(2.0) * scale_.halfRangeM;
    }

    void DrawCircle(QPainter& painter, const QRect& area, double radiusM, const QPen& pen) const {
        if (!Shows(radiusM) || radiusM <= 0) {
            return;
        }
        const double radius = radiusM * area.width() / (2 * scale_.halfRangeM);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(Pixel(area, 0, 0), radius, radius);
    }

    int Mark() const { return std::max(kMarkSize, fontMetrics().height() / 3); }

    void DrawCentre(QPainter& painter, const QRect& area) const {
        const QPointF centre = Pixel(area, 0, 0);
        const int mark = 2 * Mark();
        painter.setPen(QPen(palette().color(QPalette::Text), 2));
        painter.drawLine(centre + QPointF(-mark, 0), centre + QPointF(mark, 0));
        painter.drawLine(centre + QPointF(0, -mark), centre + QPointF(0, mark));
    }

    // Legend items left to right, wrapping onto a second row when the plot is narrow.
    void DrawLegend(QPainter& painter, const QRect& area) const {
        const QFontMetrics metrics = fontMetrics();
        const int line = metrics.height();
        const int swatch = 2 * line;
        const int gap = metrics.horizontalAdvance(QStringLiteral("MM"));
        struct Item {
            QString text;
            int kind;  // 0 dot, 1 edge mark, 2 CEP50 line, 3 CEP95 line, 4 cross
        };
        std::vector<Item> items = {{QStringLiteral("fixes"), 0}};
        if (beyond_ > 0) {
            items.push_back({QStringLiteral("beyond the edge"), 1});
        }
        for (const auto& [name, radius, kind] :
             {std::tuple{"CEP50", cep50_, 2}, std::tuple{"CEP95", cep95_, 3}}) {
            items.push_back({Shows(radius) ? QLatin1String(name)
                                           : QLatin1String(name) + QStringLiteral(" (beyond the plot)"),
                             kind});
        }
        items.push_back(
            {aboutReference_ ? QStringLiteral("centre: the reference") : QStringLiteral("centre: the mean"),
             4});
        int x = area.left();
        int y = area.bottom() + kTickLength + 2 * line + 8;
        for (const Item& item : items) {
            const int width = swatch + 4 + metrics.horizontalAdvance(item.text);
            if (x > area.left() && x + width > rect().right()) {
                x = area.left();
                y += line;
            }
            DrawSwatch(painter, QRect(x, y, swatch, line), item.kind);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(QRect(x + swatch + 4, y, width, line), Qt::AlignLeft | Qt::AlignVCenter,
                             item.text);
            x += width + gap;
        }
    }

    void DrawSwatch(QPainter& painter, const QRect& box, int kind) const {
        const QPointF middle = QRectF(box).center();
        const int mark = Mark();
        switch (kind) {
            case 0:
                painter.setPen(QPen(PointColor(), 3, Qt::SolidLine, Qt::RoundCap));
                painter.drawPoint(middle);
                break;
            case 1:
                painter.setPen(QPen(kEdgeColor, 2));
                painter.drawLine(middle + QPointF(-mark, -mark), middle + QPointF(mark, mark));
                painter.drawLine(middle + QPointF(-mark, mark), middle + QPointF(mark, -mark));
                break;
            case 2:
            case 3:
                painter.setPen(kind == 2 ? QPen(kCep50Color, 2) : QPen(kCep95Color, 2, Qt::DashLine));
                painter.drawLine(QPointF(box.left(), middle.y()), QPointF(box.right(), middle.y()));
                break;
            default:
                painter.setPen(QPen(palette().color(QPalette::Text), 2));
                painter.drawLine(middle + QPointF(-mark, 0), middle + QPointF(mark, 0));
                painter.drawLine(middle + QPointF(0, -mark), middle + QPointF(0, mark));
                break;
        }
    }

    std::vector<EastNorth> points_;
    bool hasFigures_ = false;
    double cep50_ = 0;
    double cep95_ = 0;
    bool aboutReference_ = false;
};

ScatterPlot::ScatterPlot(QWidget* parent, QBoxLayout* layout) : view_(new View(parent)) {
    layout->addWidget(view_);
}

void ScatterPlot::Show(std::vector<EastNorth> points, const AccuracyFigures* figures) {
    view_->Set(std::move(points), figures);
}

const ScatterScale& ScatterPlot::Scale() const {
    return view_->scale_;
}

size_t ScatterPlot::BeyondEdge() const {
    return view_->beyond_;
}

const ScatterPlot::Painted& ScatterPlot::LastPaint() const {
    return view_->painted_;
}

QWidget* ScatterPlot::Widget() const {
    return view_;
}

QColor ScatterPlot::PointColor() {
    return {0, 90, 210};
}
