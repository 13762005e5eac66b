#include "geo/Trackwriter.h"

#include <charconv>
#include <string>

namespace {

constexpr int kDegreeDecimals = 9;  // 0.1 mm
constexpr int kMetreDecimals = 3;

// A number in plain decimal, whatever the C locale: at most `decimals` places, no trailing
// zeros.
std::string Decimal(double value, int decimals) {
    char text[64];
    const auto [end, problem] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (problem != std::errc()) {
        return "0";
    }
    std::string s(text, end);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s == "-0" ? "0" : s;
}

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one.
size_t Utf8Length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    const auto second = length > 1 ? static_cast<unsigned char>(text[1]) : 0;
    const bool refused = lead == 0xC0 || lead == 0xC1 || lead > 0xF4 || (lead == 0xE0 && second < 0xA0) ||
                         (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
                         (lead == 0xF4 && second >= 0x90);
    return refused ? 0 : length;
}

const char* GpxFixType(int quality) {
    switch (quality) {
        case 2:
        case 4:
        case 5:
            return "dgps";
        case 3:
            return "pps";
        default:
            return nullptr;
    }
}

class GpxWriter final : public TrackWriter {
  public:
    explicit GpxWriter(std::ostream& out) : out_(out) {}

    void Begin(std::string_view name) override {
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<gpx version=\"1.1\" creator=\"LCTrovi Utility\" "
                "xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
                "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
                "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
                "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
                "  <trk>\n"
                "    <name>"
             << XmlText(name)
             << "</name>\n"
                "    <trkseg>\n";
    }

    void Add(const TrackFix& fix) override {
        // GPX longitudes run from -180 up to but not including 180.
        const double longitude = fix.longitudeDeg >= 180.0 ? fix.longitudeDeg - 360.0 : fix.longitudeDeg;
        out_ << "      <trkpt lat=\"" << Decimal(fix.latitudeDeg, kDegreeDecimals) << "\" lon=\""
             << Decimal(longitude, kDegreeDecimals) << "\">\n";
        if (fix.altitudeM) {
            Element("ele", Decimal(*fix.altitudeM, kMetreDecimals));
        }
        if (fix.utcMs) {
            Element("time", IsoUtcText(*fix.utcMs));
        }
        if (fix.geoidSeparationM) {
            Element("geoidheight", Decimal(*fix.geoidSeparationM, kMetreDecimals));
        }
        if (const char* type = GpxFixType(fix.quality)) {
            Element("fix", type);
        }
        if (fix.satellites) {
            Element("sat", std::to_string(*fix.satellites));
        }
        if (fix.hdop) {
            Element("hdop", Decimal(*fix.hdop, kMetreDecimals));
        }
        out_ << "      </trkpt>\n";
    }

    void End() override { out_ << "    </trkseg>\n  </trk>\n</gpx>\n"; }

  private:
    void Element(const char* name, const std::string& value) {
        out_ << "        <" << name << '>' << value << "</" << name << ">\n";
    }

    std::ostream& out_;
};

// A LineString needs two points: the first fix waits for the second, and a fix alone ends
// as a Point.
class KmlWriter final : public TrackWriter {
  public:
    explicit KmlWriter(std::ostream& out) : out_(out) {}

    void Begin(std::string_view name) override {
        const std::string text = XmlText(name);
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                "  <Document>\n"
                "    <name>"
             << text
             << "</name>\n"
                "    <Placemark>\n"
                "      <name>"
             << text << "</name>\n";
    }

    void Add(const TrackFix& fix) override {
        if (fixes_++ == 0) {
            first_ = Coordinates(fix);
            return;
        }
        if (fixes_ == 2) {
            out_ << "      <LineString>\n"
                    "        <altitudeMode>absolute</altitudeMode>\n"
                    "        <coordinates>\n"
                 << "          " << first_ << '\n';
        }
        out_ << "          " << Coordinates(fix) << '\n';
    }

    void End() override {
        if (fixes_ == 1) {
            out_ << "      <Point>\n"
                    "        <altitudeMode>absolute</altitudeMode>\n"
                    "        <coordinates>"
                 << first_ << "</coordinates>\n      </Point>\n";
        } else if (fixes_ > 1) {
            out_ << "        </coordinates>\n      </LineString>\n";
        }
        out_ << "    </Placemark>\n  </Document>\n</kml>\n";
    }

  private:
    static std::string Coordinates(const TrackFix& fix) {
        std::string text =
            Decimal(fix.longitudeDeg, kDegreeDecimals) + ',' + Decimal(fix.latitudeDeg, kDegreeDecimals);
        if (fix.altitudeM) {
            text += ',' + Decimal(*fix.altitudeM, kMetreDecimals);
        }
        return text;
    }

    std::ostream& out_;
    size_t fixes_ = 0;
    std::string first_;
};

class CsvWriter final : public TrackWriter {
  public:
    explicit CsvWriter(std::ostream& out) : out_(out) {}

    void Begin(std::string_view /*name*/) override {
        out_ << "time,lat,lon,height,quality,satellites,hdop\n";
    }

    void Add(const TrackFix& fix) override {
        const auto height = fix.HeightM();
        out_ << (fix.utcMs         ? IsoUtcText(*fix.utcMs)
                 : fix.timeOfDayMs ? TimeOfDayText(*fix.timeOfDayMs)
                                   : "")
             << ',' << Decimal(fix.latitudeDeg, kDegreeDecimals) << ','
             << Decimal(fix.longitudeDeg, kDegreeDecimals) << ','
             << (height ? Decimal(*height, kMetreDecimals) : "") << ',' << fix.quality << ','
             << (fix.satellites ? std::to_string(*fix.satellites) : "") << ','
             << (fix.hdop ? Decimal(*fix.hdop, kMetreDecimals) : "") << '\n';
    }

    void End() override {}

  private:
    std::ostream& out_;
};

}  // namespace

std::optional<TrackFormat> ParseTrackFormat(std::string_view name) {
    if (name == "gpx") {
        return TrackFormat::kGpx;
    }
    if (name == "kml") {
        return TrackFormat::kKml;
    }
    if (name == "csv") {
        return TrackFormat::kCsv;
    }
    return std::nullopt;
}

std::unique_ptr<TrackWriter> MakeTrackWriter(TrackFormat format, std::ostream& out) {
    switch (format) {
        case TrackFormat::kGpx:
            return std::make_unique<GpxWriter>(out);
        case TrackFormat::kKml:
            return std::make_unique<KmlWriter>(out);
        case TrackFormat::kCsv:
            return std::make_unique<CsvWriter>(out);
    }
    return nullptr;
}

std::string XmlText(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const size_t length = Utf8Length(text);
        const char c = text[0];
        if (length == 0 || (length == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t')) {
            out += '?';
            text.remove_prefix(length == 0 ? 1 : length);
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}
