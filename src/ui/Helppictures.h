#pragma once
// The help window's pictures, drawn from tables: one picture per NMEA sentence with every
// field of an example sentence labelled, and the receiver's 12-pin connector with its wiring
// to a PC's 9-pin serial socket.
#include <QImage>
#include <QLine>
#include <QRect>
#include <QSize>
#include <QString>
#include <vector>

// One labelled part of an example sentence: its text (it may hold commas when one label
// covers several fields) and what it means.
struct NmeaField {
    const char* text;
    const char* label;
};

struct NmeaPicture {
    const char* name;               // "GGA"
    const char* title;              // what the sentence is for
    QSize size;                     // the picture's size in pixels
    std::vector<NmeaField> fields;  // the address first, then the data fields; no checksum
};

// Every sentence the receiver sends, in the order of the help window's links.
const std::vector<NmeaPicture>& NmeaPictures();
const NmeaPicture& NmeaPictureNamed(const QString& name);

// The example sentence of a picture: "$", address, fields, "*" and the checksum in hex.
QString ExampleSentence(const NmeaPicture& picture);

// Where the parts of an NMEA picture go: each part of the sentence is bracketed and numbered
// below, and a key below the sentence says what each number means.
struct NmeaLayout {
    int sentenceFontPx = 0;
    int labelFontPx = 0;
    QRect titleRect;
    QRect sentenceRect;
    std::vector<QRect> fieldRects;   // the span of each part of the sentence, address and checksum included
    std::vector<QRect> numberRects;  // one per part, in the same order
    std::vector<QRect> labelRects;   // the key's entries
    std::vector<QString> labels;
    std::vector<std::vector<QLine>> leaders;  // the lines from each part to its number
    bool fits = false;  // the title, the sentence and the whole key lie inside the picture
};

NmeaLayout LayOutNmeaPicture(const NmeaPicture& picture);
QImage DrawNmeaPicture(const NmeaPicture& picture);

// One pin of the receiver's 12-pin connector.
struct ConnectorPin {
    int pin;
    const char* signal;
};
// One wire from the receiver's connector to the PC's 9-pin socket.
struct SerialWire {
    int receiverPin;
    int pcPin;
    const char* text;
};

const std::vector<ConnectorPin>& ConnectorPins();
const std::vector<SerialWire>& SerialWires();

inline constexpr QSize kConnectorPictureSize{400, 400};
QImage DrawConnectorPicture();
