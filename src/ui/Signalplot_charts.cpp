#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <cmath>

#include "ui/Signalplot.h"

struct SignalPlot::Parts {
    QChart* chart = nullptr;
    std::array<QLineSeries*, kSeries> series = {};
    QValueAxis* axisY = nullptr;
};

SignalPlot::SignalPlot(QWidget* parent, QBoxLayout* layout, int minutes) : parts_(new Parts) {
    QChart* chart = parts_->chart = new QChart;
    chart->setObjectName("ChartSignal");
    const char* const names[kSeries] = {"L1 SNR", "L2 SNR", "Correction level"};
    auto* axisX = new QValueAxis(chart);
    axisX->setRange(-minutes, 0);
    axisX->setTickCount(minutes + 1);
    axisX->setLabelFormat(QStringLiteral("%d"));
    axisX->setTitleText(QStringLiteral("minutes (0 = now)"));
    QValueAxis* axisY = parts_->axisY = new QValueAxis(chart);
    axisY->setRange(0, 60);
    axisY->setTickCount(7);
    axisY->setLabelFormat(QStringLiteral("%d"));
    axisY->setTitleText(QStringLiteral("dB"));
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    for (int i = 0; i < kSeries; ++i) {
        QLineSeries* series = parts_->series[static_cast<size_t>(i)] = new QLineSeries(chart);
        series->setName(QLatin1String(names[i]));
        chart->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    auto* view = new QChartView(chart, parent);  // the view owns the chart
    view->setObjectName("ChartViewSignal");
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(560, 250);
    layout->addWidget(view);
}

SignalPlot::~SignalPlot() {
    delete parts_;
}

void SignalPlot::Show(const Points& points, double low, double high) {
    for (size_t s = 0; s < kSeries; ++s) {
        parts_->series[s]->replace(points[s]);
    }
    // Whole tens of dB, 0 to 60 unless the values go beyond.
    const double bottom = std::floor(std::min(low, 0.0) / 10.0) * 10.0;
    const double top = std::max(60.0, std::ceil(high / 10.0) * 10.0);
    parts_->axisY->setRange(bottom, top);
    parts_->axisY->setTickCount(static_cast<int>((top - bottom) / 10.0) + 1);
}

int SignalPlot::PointCount(int series) const {
    return static_cast<int>(parts_->series[static_cast<size_t>(series)]->count());
}

double SignalPlot::LastX(int series) const {
    const QLineSeries* curve = parts_->series[static_cast<size_t>(series)];
    return curve->count() > 0 ? curve->at(curve->count() - 1).x() : 0.0;
}
