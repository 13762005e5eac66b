#include "ui/Helppictures.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kMargin = 14;
constexpr int kBracketDrop = 4;
constexpr int kKeyColumnGap = 16;

// The example sentences follow NMEA 0183; SNR is the receiver's own sentence. The first entry
// of each table is the address, which the sentence prefixes with "$".
const std::vector<NmeaPicture> kPictures = {
    {"GGA",
     "GGA - Global Positioning System Fix Data",
     {685, 400},
     {{"GPGGA", "Address: GP talker, GGA"},
      {"123519.00", "UTC time of the fix, hhmmss.ss"},
      {"4807.03800", "Latitude, ddmm.mmmmm"},
      {"N", "N = north, S = south"},
      {"01131.00000", "Longitude, dddmm.mmmmm"},
      {"E", "E = east, W = west"},
      {"2", "Fix quality: 0 none, 1 GPS, 2 differential"},
      {"09", "Number of satellites in use"},
      {"0.9", "HDOP, horizontal dilution of precision"},
      {"545.4", "Altitude above mean sea level"},
      {"M", "M = altitude in metres"},
      {"47.0", "Geoid separation (geoid above ellipsoid)"},
      {"M", "M = separation in metres"},
      {"3.0", "Age of differential data, seconds"},
      {"0120", "Differential reference station ID"}}},
    {"GSA",
     "GSA - DOP and Active Satellites",
     {670, 330},
     {{"GPGSA", "Address: GP talker, GSA"},
      {"A", "Mode: A automatic, M manual 2D/3D"},
      {"3", "Fix type: 1 none, 2 2D, 3 3D"},
      {"02,05,07,09,13,16,20,27,30,,,", "PRNs of the satellites used, 12 fields (empty if unused)"},
      {"1.6", "PDOP, position dilution of precision"},
      {"0.9", "HDOP, horizontal dilution of precision"},
      {"1.3", "VDOP, vertical dilution of precision"}}},
    {"VTG",
     "VTG - Track and Ground Speed",
     {420, 240},
     {{"GPVTG", "Address: GP talker, VTG"},
      {"054.7", "Track, degrees true"},
      {"T", "T = true"},
      {"034.4", "Track, degrees magnetic"},
      {"M", "M = magnetic"},
      {"005.5", "Speed, knots"},
      {"N", "N = knots"},
      {"010.2", "Speed, km/h"},
      {"K", "K = km/h"},
      {"D", "Mode: A auto, D diff., N none"}}},
    {"ZDA",
     "ZDA - Time and Date",
     {420, 240},
     {{"GPZDA", "Address: GP talker, ZDA"},
      {"201530.00", "UTC time, hhmmss.ss"},
      {"04", "Day, 01 to 31"},
      {"07", "Month, 01 to 12"},
      {"2026", "Year"},
      {"00", "Local zone hours, -13 to 13"},
      {"00", "Local zone minutes"}}},
    {"RMC",
     "RMC - Recommended Minimum Navigation Data",
     {610, 300},
     {{"GPRMC", "Address: GP talker, RMC"},
      {"123519.00", "UTC time of the fix, hhmmss.ss"},
      {"A", "Status: A valid, V warning"},
      {"4807.03800", "Latitude, ddmm.mmmmm"},
      {"N", "N = north, S = south"},
      {"01131.00000", "Longitude, dddmm.mmmmm"},
      {"E", "E = east, W = west"},
      {"022.4", "Speed over ground, knots"},
      {"084.4", "Track made good, degrees true"},
      {"230394", "Date, ddmmyy"},
      {"003.1", "Magnetic variation, degrees"},
      {"W", "Variation E = east, W = west"},
      {"D", "Mode: A autonomous, D differential, N not valid"}}},
    {"SNR",
     "SNR - Signal Quality (this receiver's own sentence)",
     {521, 361},
     {{"PNSNR", "Address: PN proprietary, SNR"},
      {"92", "Accuracy indicator, 0 to 100"},
      {"11.5", "Correction signal level, dB"},
      {"44.2", "Average L1 SNR of the satellites used"},
      {"38.7", "Average L2 SNR of the satellites used"},
      {"1", "Satellites in L1 backup navigation"}}},
};

QFont PixelFont(QFont font, int px, bool bold = false) {
    font.setPixelSize(px);
    font.setBold(bold);
    return font;
}

QFont TitleFont() {
    return PixelFont(QFont(), 15, true);
}

QFont SentenceFont(int px) {
    return PixelFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), px, true);
}

QFont LabelFont(int px) {
    return PixelFont(QFont(), px);
}

QFont NumberFont(int px) {
    return PixelFont(QFont(), px - 1, true);
}

// A key entry: its number right-aligned in a column wide enough for two digits, then the text.
int KeyNumberWidth(const QFontMetrics& fm) {
    return fm.horizontalAdvance(QStringLiteral("00")) + 8;
}

// The largest sentence font, 14 pixels at most, in which the sentence fits the width.
int SentenceFontFor(const QString& sentence, int width) {
    int px = 14;
    while (px > 8 && QFontMetrics(SentenceFont(px)).horizontalAdvance(sentence) > width) {
        --px;
    }
    return px;
}

struct Part {
    QString text;
    QString label;
};

std::vector<Part> PartsOf(const NmeaPicture& picture) {
    std::vector<Part> parts;
    const QString sentence = ExampleSentence(picture);
    for (size_t i = 0; i < picture.fields.size(); ++i) {
        const QString text = QString::fromLatin1(picture.fields[i].text);
        parts.push_back({i == 0 ? "$" + text : text, QString::fromLatin1(picture.fields[i].label)});
    }
    parts.push_back({sentence.mid(sentence.lastIndexOf('*')), "Checksum, hexadecimal"});
    return parts;
}

// Under each part of the sentence, its number, alternately on two rows so that the numbers of
// neighbouring one-letter fields do not touch; below them a key of the numbers in one or two
// columns.
bool PlaceKey(NmeaLayout& layout, const QSize& size) {
    const QFontMetrics nfm(NumberFont(layout.labelFontPx));
    const QFontMetrics lfm(LabelFont(layout.labelFontPx));
    const int numberHeight = nfm.height();
    const size_t n = layout.fieldRects.size();
    int keyTop = 0;
    layout.numberRects.clear();
    layout.leaders.clear();
    for (size_t i = 0; i < n; ++i) {
        const QRect& field = layout.fieldRects[i];
        const int bracketY = field.bottom() + kBracketDrop;
        const int top = bracketY + 4 + static_cast<int>(i % 2) * (numberHeight + 2);
        const QString number = QString::number(i + 1);
        const int width = nfm.horizontalAdvance(number) + 2;
        layout.numberRects.emplace_back(field.center().x() - width / 2, top, width, numberHeight);
        layout.leaders.push_back({QLine(field.center().x(), bracketY, field.center().x(), top - 1)});
        keyTop = std::max(keyTop, layout.numberRects.back().bottom() + 14);
    }
    const int rowHeight = lfm.height() + 2;
    for (int columns = 2; columns >= 1; --columns) {
        const int rows = static_cast<int>((n + columns - 1) / columns);
        layout.labelRects.clear();
        int left = kMargin;
        for (int column = 0; column < columns; ++column) {
            const size_t first = static_cast<size_t>(column) * static_cast<size_t>(rows);
            const size_t last = std::min(n, first + static_cast<size_t>(rows));
            int widest = 0;
            for (size_t i = first; i < last; ++i) {
                widest = std::max(widest, KeyNumberWidth(lfm) + lfm.horizontalAdvance(layout.labels[i]) + 1);
            }
            for (size_t i = first; i < last; ++i) {
                layout.labelRects.emplace_back(left, keyTop + static_cast<int>(i - first) * rowHeight, widest,
                                               lfm.height());
            }
            left += widest + kKeyColumnGap;
        }
        if (left - kKeyColumnGap <= size.width() - kMargin &&
            keyTop + rows * rowHeight <= size.height() - kMargin) {
            return true;
        }
    }
    return false;
}

NmeaLayout TryLayout(const NmeaPicture& picture, int labelPx) {
    NmeaLayout layout;
    const QSize size = picture.size;
    const QString sentence = ExampleSentence(picture);
    layout.labelFontPx = labelPx;
    layout.titleRect =
        QRect(kMargin, kMargin, size.width() - 2 * kMargin, QFontMetrics(TitleFont()).height());

    layout.sentenceFontPx = SentenceFontFor(sentence, size.width() - 2 * kMargin);
    const QFontMetrics sfm(SentenceFont(layout.sentenceFontPx));
    const int sentenceWidth = sfm.horizontalAdvance(sentence);
    const int left = (size.width() - sentenceWidth) / 2;
    layout.sentenceRect = QRect(left, layout.titleRect.bottom() + 16, sentenceWidth, sfm.height());

    qsizetype charStart = 0;
    for (const Part& part : PartsOf(picture)) {
        charStart = sentence.indexOf(part.text, charStart);
        const int from = left + sfm.horizontalAdvance(sentence.left(charStart));
        const int to = left + sfm.horizontalAdvance(sentence.left(charStart + part.text.size()));
        layout.fieldRects.emplace_back(from, layout.sentenceRect.top(), to - from, sfm.height());
        layout.labels.push_back(part.label);
        charStart += part.text.size();
    }

    const bool titleFits = QFontMetrics(TitleFont()).horizontalAdvance(QString::fromLatin1(picture.title)) <=
                           layout.titleRect.width();
    layout.fits = PlaceKey(layout, size) && titleFits;
    return layout;
}

void DrawBracket(QPainter& p, const QRect& field) {
    const int y = field.bottom() + kBracketDrop;
    p.drawLine(field.left() + 1, y, field.right() - 1, y);
    p.drawLine(field.left() + 1, y, field.left() + 1, y - 3);
    p.drawLine(field.right() - 1, y, field.right() - 1, y - 3);
}

QImage BlankPicture(const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

}  // namespace

const std::vector<NmeaPicture>& NmeaPictures() {
    return kPictures;
}

const NmeaPicture& NmeaPictureNamed(const QString& name) {
    for (const NmeaPicture& picture : kPictures) {
        if (name == QLatin1String(picture.name)) {
            return picture;
        }
    }
    return kPictures.front();
}

QString ExampleSentence(const NmeaPicture& picture) {
    QString body;
    for (const NmeaField& field : picture.fields) {
        body += (body.isEmpty() ? "" : ",") + QString::fromLatin1(field.text);
    }
    unsigned checksum = 0;
    for (QChar c : body) {
        checksum ^= static_cast<unsigned>(c.toLatin1());
    }
    return QStringLiteral("$%1*%2").arg(body).arg(checksum, 2, 16, QChar('0')).toUpper();
}

NmeaLayout LayOutNmeaPicture(const NmeaPicture& picture) {
    for (int px = 14; px > 10; --px) {
        NmeaLayout layout = TryLayout(picture, px);
        if (layout.fits) {
            return layout;
        }
    }
    return TryLayout(picture, 10);
}

QImage DrawNmeaPicture(const NmeaPicture& picture) {
    const NmeaLayout layout = LayOutNmeaPicture(picture);
    QImage image = BlankPicture(picture.size);
    QPainter p(&image);
    p.setPen(Qt::black);
    p.drawRect(QRect(QPoint(0, 0), picture.size).adjusted(0, 0, -1, -1));
    p.setFont(TitleFont());
    p.drawText(layout.titleRect, Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(picture.title));
    p.setFont(SentenceFont(layout.sentenceFontPx));
    p.drawText(layout.sentenceRect, Qt::AlignLeft | Qt::AlignVCenter, ExampleSentence(picture));
    for (size_t i = 0; i < layout.labelRects.size(); ++i) {
        DrawBracket(p, layout.fieldRects[i]);
        for (const QLine& line : layout.leaders[i]) {
            p.drawLine(line);
        }
        p.setFont(NumberFont(layout.labelFontPx));
        p.drawText(layout.numberRects[i], Qt::AlignCenter, QString::number(i + 1));
        p.setFont(LabelFont(layout.labelFontPx));
        const int numberWidth = KeyNumberWidth(QFontMetrics(p.font()));
        const QRect entry = layout.labelRects[i];
        p.drawText(entry.adjusted(0, 0, numberWidth - entry.width() - 8, 0),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(i + 1));
        p.drawText(entry.adjusted(numberWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, layout.labels[i]);
    }
    return image;
}

// ---- the 12-pin connector -------------------------------------------------------------

namespace {

// Seen from the back, where the wires go in; numbered clockwise from the key.
const std::vector<ConnectorPin> kPins = {
    {1, "Ground"},         {2, "+12 V, switched"}, {3, "+12 V, unswitched"}, {4, "RS-232 TX (out)"},
    {5, "RS-232 RX (in)"}, {6, "CAN high"},        {7, "CAN low"},           {8, "Radar output"},
    {9, "Not connected"},  {10, "Not connected"},  {11, "Not connected"},    {12, "Not connected"},
};

// The receiver sends on its TX, which the PC receives on RXD, and the other way round.
const std::vector<SerialWire> kWires = {
    {4, 2, "Pin 4 TX  \u2192  PC pin 2 RXD"},
    {5, 3, "Pin 5 RX  \u2190  PC pin 3 TXD"},
    {1, 5, "Pin 1 Ground  \u2014  PC pin 5 GND"},
};

constexpr QPoint kFaceCentre{100, 150};
constexpr int kPinRing = 62;
constexpr int kPinRadius = 11;

QPoint PinPosition(int pin) {
    const double angle = (pin - 1) * 2.0 * std::numbers::pi / 12.0;
    return kFaceCentre + QPoint(static_cast<int>(std::lround(kPinRing * std::sin(angle))),
                                static_cast<int>(std::lround(-kPinRing * std::cos(angle))));
}

void DrawConnectorFace(QPainter& p) {
    p.setPen(QPen(Qt::black, 2));
    p.drawEllipse(kFaceCentre, kPinRing + 24, kPinRing + 24);
    p.drawRect(kFaceCentre.x() - 6, kFaceCentre.y() - kPinRing - 32, 12, 9);  // the key
    p.setFont(PixelFont(QFont(), 11, true));
    for (const ConnectorPin& pin : kPins) {
        const QPoint at = PinPosition(pin.pin);
        p.setPen(QPen(Qt::black, 1));
        p.drawEllipse(at, kPinRadius, kPinRadius);
        p.drawText(QRect(at - QPoint(kPinRadius, kPinRadius), QSize(2 * kPinRadius, 2 * kPinRadius)),
                   Qt::AlignCenter, QString::number(pin.pin));
    }
    p.setFont(PixelFont(QFont(), 11));
    p.drawText(QRect(kFaceCentre.x() - 40, kFaceCentre.y() - 8, 80, 16), Qt::AlignCenter, "key at top");
}

void DrawPinTable(QPainter& p) {
    p.setFont(PixelFont(QFont(), 12));
    const int rowHeight = QFontMetrics(p.font()).height() + 2;
    int y = 56;
    for (const ConnectorPin& pin : kPins) {
        p.drawText(QRect(214, y, 24, rowHeight), Qt::AlignRight | Qt::AlignVCenter, QString::number(pin.pin));
        p.drawText(QRect(246, y, 150, rowHeight), Qt::AlignLeft | Qt::AlignVCenter, pin.signal);
        y += rowHeight;
    }
}

// The PC's 9-pin socket seen from the back: pins 1 to 5 on top, 6 to 9 below.
QPoint SocketPinPosition(int pin) {
    constexpr QPoint topLeft{262, 290};
    return pin <= 5 ? topLeft + QPoint((pin - 1) * 22, 0) : topLeft + QPoint(11 + (pin - 6) * 22, 22);
}

void DrawSocket(QPainter& p) {
    p.setPen(QPen(Qt::black, 2));
    const QPoint a = SocketPinPosition(1);
    QPainterPath shell;
    shell.moveTo(a + QPoint(-16, -13));
    shell.lineTo(SocketPinPosition(5) + QPoint(16, -13));
    shell.lineTo(SocketPinPosition(9) + QPoint(16, 13));
    shell.lineTo(SocketPinPosition(6) + QPoint(-16, 13));
    shell.closeSubpath();
    p.drawPath(shell);
    p.setPen(QPen(Qt::black, 1));
    p.setFont(PixelFont(QFont(), 9));
    for (int pin = 1; pin <= 9; ++pin) {
        const QPoint at = SocketPinPosition(pin);
        p.drawEllipse(at, 8, 8);
        p.drawText(QRect(at - QPoint(8, 8), QSize(16, 16)), Qt::AlignCenter, QString::number(pin));
    }
}

void DrawWiring(QPainter& p) {
    p.setFont(PixelFont(QFont(), 13, true));
    p.drawText(QRect(kMargin, 252, 380, 18), Qt::AlignLeft | Qt::AlignVCenter,
               "Cable to the PC's 9-pin socket, back view");
    DrawSocket(p);
    p.setFont(PixelFont(QFont(), 12));
    const int rowHeight = 22;
    int y = 334;
    for (const SerialWire& wire : kWires) {
        const QRect text(kMargin, y - rowHeight / 2, 210, rowHeight);
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, wire.text);
        const QPoint pin = SocketPinPosition(wire.pcPin);
        p.drawLine(QPoint(text.left() + QFontMetrics(p.font()).horizontalAdvance(wire.text) + 6, y),
                   QPoint(pin.x(), y));
        p.drawLine(QPoint(pin.x(), y), pin + QPoint(0, 9));
        p.setPen(QPen(Qt::black, 2.5));  // a wired pin has a heavy ring
        p.drawEllipse(pin, 9, 9);
        p.setPen(QPen(Qt::black, 1));
        y += rowHeight;
    }
}

}  // namespace

const std::vector<ConnectorPin>& ConnectorPins() {
    return kPins;
}

const std::vector<SerialWire>& SerialWires() {
    return kWires;
}

QImage DrawConnectorPicture() {
    QImage image = BlankPicture(kConnectorPictureSize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.drawRect(QRect(QPoint(0, 0), kConnectorPictureSize).adjusted(0, 0, -1, -1));
    p.setFont(TitleFont());
    p.drawText(QRect(kMargin, kMargin, 372, 20), Qt::AlignLeft | Qt::AlignVCenter,
               "Receiver 12-pin connector, back view");
    DrawConnectorFace(p);
    DrawPinTable(p);
    DrawWiring(p);
    return image;
}
