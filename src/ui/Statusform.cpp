#include "ui/Statusform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/Clock.h"
#include "ui/Memoutils.h"
#include "ui/Signalplot.h"
#include "ui/Windowplaces.h"
#include "ui_Statusform.h"

TFormStatus* FormStatus = nullptr;

namespace {

constexpr int kMinutesShown = ReceiverStatus::kHistoryMs / 60000;
constexpr double kMsPerMinute = 60000.0;
const QColor kStaleColour(Qt::red);

QString Unknown() {
    return QStringLiteral("\u2013");
}

// What the receiver sent instead of a value, quoted as it came (bytes that do not print
// replaced), and why it gave no value.
QString UnreadText(const FieldText& sent) {
    QString text;
    for (const char c : sent.View()) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x20 && byte < 0x7F ? QChar(byte) : QChar(QChar::ReplacementCharacter);
    }
    if (sent.cut) {
        text += QChar(0x2026);  // an ellipsis: the field went on
    }
    return QStringLiteral("\u201C%1\u201D (%2)")
        .arg(text, sent.LooksNumeric() ? QStringLiteral("out of range") : QStringLiteral("not readable"));
}

// A reading without a value: what was sent instead, or the mark of a value not known.
template <typename T>
QString NoValue(const Reading<T>& v) {
    return v.unread.Empty() ? Unknown() : UnreadText(v.unread);
}

QString Number(const Reading<double>& v, int decimals, const QString& unit = {}) {
    return v ? QString::number(*v, 'f', decimals) + unit : NoValue(v);
}

QString Integer(const Reading<int>& v) {
    return v ? QString::number(*v) : NoValue(v);
}

// A signal level in dB; one beyond the plot's axis is drawn at its edge, and said so here.
QString LevelText(const Reading<double>& v) {
    const bool onScale = !v || SignalPlot::OnScale(*v);
    return Number(v, 1, QStringLiteral(" dB")) + (onScale ? QString() : QStringLiteral(" (out of range)"));
}

QString QualityText(const Reading<int>& quality) {
    static const char* const kNames[] = {"no fix",    "GPS",       "differential", "PPS",       "RTK fixed",
                                         "RTK float", "estimated", "manual input", "simulation"};
    if (!quality) {
        return NoValue(quality);
    }
    const bool named = *quality >= 0 && *quality < static_cast<int>(std::size(kNames));
    return named ? QStringLiteral("%1 (%2)").arg(*quality).arg(QLatin1String(kNames[*quality]))
                 : QString::number(*quality);
}

QString ModeText(const StatusValues& v) {
    static const char* const kModes[] = {"no fix", "2D", "3D"};
    QString text = v.fixMode ? QLatin1String(kModes[*v.fixMode - 1]) : NoValue(v.fixMode);
    if (v.fixSelection == 'A' || v.fixSelection == 'M') {
        text += v.fixSelection == 'A' ? QStringLiteral(", automatic") : QStringLiteral(", manual");
    }
    return text;
}

// One line per set of satellites; the talker leads when there is more than one set.
QString PrnText(const ReceiverStatus& status) {
    QStringList lines;
    for (size_t s = 0; s < status.SatelliteSetCount(); ++s) {
        const UsedSatellites& set = status.SatelliteSet(s);
        QStringList prns;
        for (size_t i = 0; i < set.count; ++i) {
            prns << QStringLiteral("%1").arg(set.prns[i], 2, 10, QLatin1Char('0'));
        }
        if (set.unreadCount > 0) {
            prns << UnreadText(set.firstUnread) +
                        (set.unreadCount > 1 ? QStringLiteral(" and %1 more").arg(set.unreadCount - 1)
                                             : QString());
        }
        QString line = prns.isEmpty() ? QStringLiteral("none") : prns.join(' ');
        if (status.SatelliteSetCount() > 1) {
            line.prepend(QLatin1String(set.talker.data(), 2) + QStringLiteral(": "));
        }
        lines << line;
    }
    return lines.isEmpty() ? Unknown() : lines.join('\n');
}

// "48° 07.0380' N  (48.117300°)"
QString AngleText(const Reading<double>& degrees, int degreeDigits, char positive, char negative) {
    if (!degrees) {
        return NoValue(degrees);
    }
    const auto tenThousandths = static_cast<int64_t>(std::llround(std::fabs(*degrees) * 60.0 * 10000.0));
    const int64_t whole = tenThousandths / 600000;
    const double minutes = static_cast<double>(tenThousandths % 600000) / 10000.0;
    return QStringLiteral("%1\u00B0 %2' %3  (%4\u00B0)")
        .arg(whole, degreeDigits, 10, QLatin1Char('0'))
        .arg(minutes, 7, 'f', 4, QLatin1Char('0'))
        .arg(QLatin1Char(*degrees < 0 ? negative : positive))
        .arg(*degrees, 0, 'f', 6);
}

QString UtcText(const StatusValues& v) {
    const QString date = v.utcDate ? QStringLiteral("%1-%2-%3")
                                         .arg(v.utcDate->year, 4, 10, QLatin1Char('0'))
                                         .arg(v.utcDate->month, 2, 10, QLatin1Char('0'))
                                         .arg(v.utcDate->day, 2, 10, QLatin1Char('0'))
                                   : NoValue(v.utcDate);
    const QString time = v.utcTime ? QStringLiteral("%1:%2:%3")
                                         .arg(v.utcTime->hour, 2, 10, QLatin1Char('0'))
                                         .arg(v.utcTime->minute, 2, 10, QLatin1Char('0'))
                                         .arg(v.utcTime->second, 5, 'f', 2, QLatin1Char('0'))
                                   : NoValue(v.utcTime);
    return date + QStringLiteral("  ") + time;
}

// "21.6 km/h  (11.66 kn)"
QString SpeedText(const StatusValues& v) {
    const bool sent =
        v.speedKmh || v.speedKnots || !v.speedKmh.unread.Empty() || !v.speedKnots.unread.Empty();
    return sent ? Number(v.speedKmh, 1, QStringLiteral(" km/h")) + QStringLiteral("  (") +
                      Number(v.speedKnots, 2, QStringLiteral(" kn")) + QStringLiteral(")")
                : Unknown();
}

QString AgeText(const std::optional<int64_t>& ageMs) {
    if (!ageMs) {
        return Unknown();
    }
    const double seconds = static_cast<double>(std::max<int64_t>(*ageMs, 0)) / 1000.0;
    return seconds < 60.0 ? QStringLiteral("%1 s").arg(seconds, 0, 'f', 1)
                          : QStringLiteral("%1 min").arg(static_cast<int64_t>(seconds / 60.0));
}

void SetStale(QLabel* label, bool stale) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     stale ? kStaleColour : label->parentWidget()->palette().color(QPalette::WindowText));
    label->setPalette(palette);
}

}  // namespace

TFormStatus::TFormStatus(QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormStatus), timer_(new QTimer(this)) {
    ui->setupUi(this);
    UseFixedPitchOnWindows(this);
    BuildSentenceGrid();
    BuildPlot();
    timer_->setObjectName("Timer");
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &TFormStatus::TimerTimer);
    TimerTimer();
    adjustSize();
}

TFormStatus::~TFormStatus() {
    delete ui;
}

QLabel* TFormStatus::ValueLabel(const char* name) const {
    return findChild<QLabel*>(QString::fromLatin1(name));
}

void TFormStatus::BuildSentenceGrid() {
    QGridLayout* grid = ui->LayoutSentences;
    grid->addWidget(new QLabel(QStringLiteral("Count:"), ui->GroupSentences), 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Age:"), ui->GroupSentences), 2, 0);
    const int ageWidth = fontMetrics().horizontalAdvance(QStringLiteral("99.9 min"));
    for (size_t k = 0; k < kNmeaKindCount; ++k) {
        const QString kind = QLatin1String(NmeaKindName(static_cast<NmeaKind>(k)));
        const int column = static_cast<int>(k) + 1;
        auto* caption = new QLabel(kind, ui->GroupSentences);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(caption, 0, column);
        countLabels_[k] = new QLabel(ui->GroupSentences);
        countLabels_[k]->setObjectName(QStringLiteral("LabelCount") + kind);
        ageLabels_[k] = new QLabel(ui->GroupSentences);
        ageLabels_[k]->setObjectName(QStringLiteral("LabelAge") + kind);
        ageLabels_[k]->setMinimumWidth(ageWidth);
        for (QLabel* label : {countLabels_[k], ageLabels_[k]}) {
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        grid->addWidget(countLabels_[k], 1, column);
        grid->addWidget(ageLabels_[k], 2, column);
    }
    auto* failures = new QHBoxLayout;
    for (const auto& [caption, name] : {std::pair{"Checksum failures:", "LabelChecksumFailures"},
                                        std::pair{"Without checksum (not decoded):", "LabelUnchecked"}}) {
        auto* value = new QLabel(ui->GroupSentences);
        value->setObjectName(QLatin1String(name));
        failures->addWidget(new QLabel(QLatin1String(caption), ui->GroupSentences));
        failures->addWidget(value);
        failures->addSpacing(fontMetrics().horizontalAdvance(QStringLiteral("MMMM")));
    }
    failures->addStretch(1);
    grid->addLayout(failures, 3, 0, 1, static_cast<int>(kNmeaKindCount) + 1);
}

void TFormStatus::BuildPlot() {
    plot_ = std::make_unique<SignalPlot>(ui->GroupPlot, ui->LayoutPlot, kMinutesShown);
}

void TFormStatus::ShowBeside(QWidget* window) {
    if (!positioned) {
        FitToValues();  // measured as it will show: with its values
        PlaceBesideAtFirstShowing(this, window);
        positioned = true;
    }
    show();
    raise();
}

void TFormStatus::FitToValues() {
    ShowValues();
    FitToContents(this);
}

void TFormStatus::TakeLine(const uint8_t* line, uint16_t length) {
    status_.TakeLine(std::string_view(reinterpret_cast<const char*>(line), length),
                     CurrentClock().MonotonicMs());
}

void TFormStatus::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    TimerTimer();
    timer_->start();
}

void TFormStatus::hideEvent(QHideEvent* event) {
    timer_->stop();
    QDialog::hideEvent(event);
}

void TFormStatus::Restart() {
    status_ = ReceiverStatus();
    if (isVisible()) {
        TimerTimer();
    }
}

void TFormStatus::TimerTimer() {
    const int64_t nowMs = CurrentClock().MonotonicMs();
    status_.Expire(nowMs);
    ShowValues();
    ShowSentences(nowMs);
    ShowPlot(nowMs);
}

void TFormStatus::ShowValues() {
    const StatusValues& v = status_.Values();
    ui->LabelFixQuality->setText(QualityText(v.fixQuality));
    ui->LabelFixMode->setText(ModeText(v));
    ui->LabelSatellites->setText(Integer(v.satellitesUsed));
    ui->LabelPrns->setText(PrnText(status_));
    ui->LabelDop->setText(Number(v.pdop, 1) + QStringLiteral(" / ") + Number(v.hdop, 1) +
                          QStringLiteral(" / ") + Number(v.vdop, 1));
    ui->LabelLatitude->setText(AngleText(v.latitudeDeg, 2, 'N', 'S'));
    ui->LabelLongitude->setText(AngleText(v.longitudeDeg, 3, 'E', 'W'));
    ui->LabelAltitude->setText(Number(v.altitudeM, 1, QStringLiteral(" m")));
    ui->LabelSpeed->setText(SpeedText(v));
    ui->LabelCourse->setText(Number(v.courseDeg, 1, QStringLiteral("\u00B0")));
    ui->LabelUtc->setText(UtcText(v));
    ui->LabelAccuracy->setText(Integer(v.snr.accuracy));
    ui->LabelCorrection->setText(LevelText(v.snr.correctionDb));
    ui->LabelL1Snr->setText(LevelText(v.snr.l1Snr));
    ui->LabelL2Snr->setText(LevelText(v.snr.l2Snr));
    ui->LabelBackup->setText(Integer(v.snr.backupSatellites));
}

void TFormStatus::ShowSentences(int64_t nowMs) {
    for (size_t k = 0; k < kNmeaKindCount; ++k) {
        const auto kind = static_cast<NmeaKind>(k);
        countLabels_[k]->setText(QString::number(status_.Count(kind)));
        ageLabels_[k]->setText(AgeText(status_.AgeMs(kind, nowMs)));
        SetStale(ageLabels_[k], status_.IsStale(kind, nowMs));
    }
    ValueLabel("LabelChecksumFailures")->setText(QString::number(status_.ChecksumFailures()));
    ValueLabel("LabelUnchecked")->setText(QString::number(status_.Unchecked()));
}

void TFormStatus::ShowPlot(int64_t nowMs) {
    if (!isVisible()) {
        return;  // drawn when shown: the history is kept meanwhile
    }
    SignalPlot::Points points;
    double high = 0;
    double low = 0;
    for (size_t i = 0; i < status_.HistorySize(); ++i) {
        const SignalPoint& p = status_.HistoryAt(i);
        const double x = static_cast<double>(p.ms - nowMs) / kMsPerMinute;
        const double values[SignalPlot::kSeries] = {p.l1Snr, p.l2Snr, p.correctionDb};
        for (size_t s = 0; s < SignalPlot::kSeries; ++s) {
            if (!std::isnan(values[s])) {
                points[s].append(QPointF(x, values[s]));
                high = std::max(high, values[s]);
                low = std::min(low, values[s]);
            }
        }
    }
    plot_->Show(points, low, high);
}
