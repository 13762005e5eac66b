#include <QBoxLayout>
#include <QLabel>

#include "ui/Signalplot.h"

struct SignalPlot::Parts {};

SignalPlot::SignalPlot(QWidget* parent, QBoxLayout* layout, int /*minutes*/) : parts_(nullptr) {
    auto* note =
        new QLabel(QStringLiteral("This build has no plot: its Qt lacks the Charts module."), parent);
    note->setObjectName("LabelNoPlot");
    layout->addWidget(note);
}

SignalPlot::~SignalPlot() = default;

void SignalPlot::Show(const Points& /*points*/, double /*low*/, double /*high*/) {}

int SignalPlot::PointCount(int /*series*/) const {
    return 0;
}

double SignalPlot::LastX(int /*series*/) const {
    return 0.0;
}
