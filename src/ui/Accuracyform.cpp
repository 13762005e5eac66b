#include "ui/Accuracyform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <string_view>

#include "geo/Trackfixes.h"
#include "ui/Keyboard.h"
#include "ui/Memoutils.h"
#include "ui/Scatterplot.h"
#include "ui/Windowplaces.h"
#include "ui_Accuracyform.h"

TFormAccuracy* FormAccuracy = nullptr;

namespace {

constexpr int kDegreeDecimals = 9;  // 0.1 mm, as the tool prints them
constexpr int kMetreDecimals = 3;
constexpr int kPanelChars = 28;  // less than the width of the figures beside the plot
const QColor kErrorColour(200, 0, 0);

QString Unknown() {
    return QStringLiteral("\u2013");
}

QString Metres(double value) {
    return QString::number(value, 'f', kMetreDecimals) + QStringLiteral(" m");
}

QString Degrees(double value) {
    return QString::number(value, 'f', kDegreeDecimals) + QStringLiteral("\u00B0");
}

// The text broken into lines at spaces, each as wide as the side panel's figures at most, so
// that a message grows the window downwards, not sideways.
QString Wrapped(const QString& text, const QWidget* panel) {
    const QFontMetrics metrics = panel->fontMetrics();
    const int width = metrics.averageCharWidth() * kPanelChars;
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

// "48.120874840, 11.517191643, 566.132": as the reference field takes it.
QString ReferenceText(const Geodetic& g) {
    return QStringLiteral("%1, %2, %3")
        .arg(g.latitudeDeg, 0, 'f', kDegreeDecimals)
        .arg(g.longitudeDeg, 0, 'f', kDegreeDecimals)
        .arg(g.heightM, 0, 'f', kMetreDecimals);
}

}  // namespace

TFormAccuracy::TFormAccuracy(QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormAccuracy), timer_(new QTimer(this)) {
    ui->setupUi(this);
    UseFixedPitchOnWindows(ui->GroupFigures);
    ReserveWidthForTheWidestFigure();
    plot_ = std::make_unique<ScatterPlot>(ui->GroupPlot, ui->LayoutPlot);
    ui->ComboBoxFilter->addItem(QStringLiteral("All fixes"));
    ui->ComboBoxFilter->addItem(QStringLiteral("Differential only"));
    ui->ComboBoxFilter->setToolTip(
        QStringLiteral("Differential: GGA quality 2 (DGPS), 4 (RTK fixed), 5 (RTK float)"));
    QPalette errorPalette = ui->LabelReferenceError->palette();
    errorPalette.setColor(QPalette::WindowText, kErrorColour);
    ui->LabelReferenceError->setPalette(errorPalette);
    ui->LabelReferenceError->hide();
    ui->LabelNote->hide();
    ui->EditReference->setEnabled(false);
    ui->ButtonApply->setEnabled(false);
    connect(ui->ComboBoxFilter, &QComboBox::currentIndexChanged, this, &TFormAccuracy::ComboBoxFilterChange);
    connect(ui->CheckBoxMean, &QCheckBox::toggled, this, &TFormAccuracy::CheckBoxMeanClick);
    connect(ui->ButtonApply, &QPushButton::clicked, this, &TFormAccuracy::ButtonApplyClick);
    connect(ui->ButtonReset, &QPushButton::clicked, this, &TFormAccuracy::ButtonResetClick);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    timer_->setObjectName("Timer");
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &TFormAccuracy::TimerTimer);
    Refresh();
    adjustSize();
    PrepareDialogKeys(this, ui->ComboBoxFilter, ui->ButtonApply);
}

TFormAccuracy::~TFormAccuracy() {
    delete ui;
}

// The window is measured when it first shows, often before any fix: each figure's column is
// made as wide as the longest angle it can show, so later values are never cut at the edge.
void TFormAccuracy::ReserveWidthForTheWidestFigure() {
    const QString widest = QStringLiteral("-179.%1\u00B0").arg(QString(kDegreeDecimals, QLatin1Char('8')));
    for (QLabel* label : ui->GroupFigures->findChildren<QLabel*>()) {
        if (label->objectName().startsWith(QLatin1String("Label")) && label != ui->LabelNote) {
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(widest) + 2);
        }
    }
}

QLabel* TFormAccuracy::ValueLabel(const char* name) const {
    return findChild<QLabel*>(QString::fromLatin1(name));
}

QComboBox* TFormAccuracy::ComboBoxFilter() const {
    return ui->ComboBoxFilter;
}

QCheckBox* TFormAccuracy::CheckBoxMean() const {
    return ui->CheckBoxMean;
}

QLineEdit* TFormAccuracy::EditReference() const {
    return ui->EditReference;
}

void TFormAccuracy::ShowBeside(QWidget* window) {
    if (!positioned) {
        Refresh();  // measured as it will show: with its figures
        FitToContents(this);
        PlaceBesideAtFirstShowing(this, window);
        positioned = true;
    }
    show();
    raise();
}

void TFormAccuracy::TakeLine(const uint8_t* line, uint16_t length) {
    const std::string_view text(reinterpret_cast<const char*>(line), length);
    if (stats_.AllFixCount() < maxFixes) {
        changed_ = stats_.TakeLine(text) || changed_;
    } else if (GgaFix(text)) {
        ++leftOut_;
        changed_ = true;
    }
}

void TFormAccuracy::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    timer_->start();
}

void TFormAccuracy::hideEvent(QHideEvent* event) {
    timer_->stop();
    QDialog::hideEvent(event);
}

void TFormAccuracy::TimerTimer() {
    if (changed_) {
        Refresh();
    }
}

void TFormAccuracy::ComboBoxFilterChange(int index) {
    stats_.SetFilter(index == 1 ? FixFilter::kDifferential : FixFilter::kAll);
    Refresh();
}

// Unticked, the reference field is the centre; an empty one starts from the mean.
void TFormAccuracy::CheckBoxMeanClick(bool useMean) {
    ui->EditReference->setEnabled(!useMean);
    ui->ButtonApply->setEnabled(!useMean);
    if (useMean) {
        stats_.SetReference(std::nullopt);
        ShowReferenceError({});
        Refresh();
        return;
    }
    if (ui->EditReference->text().trimmed().isEmpty()) {
        const auto mean = stats_.Mean();
        if (!mean) {
            return;  // nothing to start from: the centre stays the mean until one is applied
        }
        ui->EditReference->setText(ReferenceText(*mean));
    }
    ApplyReference();
}

void TFormAccuracy::ButtonApplyClick() {
    if (!ui->CheckBoxMean->isChecked()) {
        ApplyReference();
    }
}

void TFormAccuracy::ButtonResetClick() {
    stats_.Reset();
    leftOut_ = 0;
    Refresh();
}

bool TFormAccuracy::ApplyReference() {
    std::string error;
    const auto reference = ParseGeodetic(ui->EditReference->text().toStdString(), error);
    if (!reference) {
        ShowReferenceError(QStringLiteral("Reference not used: %1.").arg(QString::fromStdString(error)));
        return false;
    }
    stats_.SetReference(reference);
    ShowReferenceError({});
    Refresh();
    return true;
}

void TFormAccuracy::ShowReferenceError(const QString& text) {
    ui->LabelReferenceError->setText(Wrapped(text, ui->LabelReferenceError));
    ui->LabelReferenceError->setVisible(!text.isEmpty());
}

void TFormAccuracy::Refresh() {
    const auto figures = stats_.Figures();
    ShowFigures(figures);
    plot_->Show(figures ? stats_.Scatter(kMaxScatterPoints) : std::vector<EastNorth>{},
                figures ? &*figures : nullptr);
    ShowNote();
    changed_ = false;
}

void TFormAccuracy::ShowFigures(const std::optional<AccuracyFigures>& figures) {
    QString fixes = QString::number(stats_.FixCount());
    if (stats_.Filter() == FixFilter::kDifferential) {
        fixes += QStringLiteral(" differential (of %1)").arg(stats_.AllFixCount());
    }
    ui->LabelFixes->setText(fixes);
    const auto show = [&figures](QLabel* label, double AccuracyFigures::*field) {
        label->setText(figures ? Metres((*figures).*field) : Unknown());
    };
    ui->LabelMeanLatitude->setText(figures ? Degrees(figures->mean.latitudeDeg) : Unknown());
    ui->LabelMeanLongitude->setText(figures ? Degrees(figures->mean.longitudeDeg) : Unknown());
    ui->LabelMeanHeight->setText(figures ? Metres(figures->mean.heightM) : Unknown());
    ui->LabelCentre->setText(stats_.Reference() ? QStringLiteral("the reference")
                                                : QStringLiteral("the mean"));
    show(ui->LabelSigmaEast, &AccuracyFigures::sigmaEastM);
    show(ui->LabelSigmaNorth, &AccuracyFigures::sigmaNorthM);
    show(ui->LabelSigmaUp, &AccuracyFigures::sigmaUpM);
    show(ui->LabelCep50, &AccuracyFigures::cep50M);
    show(ui->LabelCep95, &AccuracyFigures::cep95M);
    show(ui->LabelTwiceDrms, &AccuracyFigures::twiceDrmsM);
}

// What the plot leaves out or marks, and the fixes left out once the most are held.
void TFormAccuracy::ShowNote() {
    QStringList lines;
    if (stats_.FixCount() > kMaxScatterPoints) {
        lines << QStringLiteral("The plot shows %1 of the fixes, evenly chosen.").arg(kMaxScatterPoints);
    }
    if (const size_t beyond = plot_->BeyondEdge(); beyond > 0) {
        lines << QStringLiteral("Fixes beyond the plot's edge: %1, marked on it with a red x.").arg(beyond);
    }
    if (leftOut_ > 0) {
        lines << QStringLiteral(
                     "%1 fixes are held, the most kept: %2 later ones were left out. Reset starts afresh.")
                     .arg(maxFixes)
                     .arg(leftOut_);
    }
    ui->LabelNote->setText(Wrapped(lines.join(QLatin1Char('\n')), ui->LabelNote));
    ui->LabelNote->setVisible(!lines.isEmpty());
}
