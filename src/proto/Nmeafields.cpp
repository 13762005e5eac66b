#include "proto/Nmeafields.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "proto/Bytes.h"

namespace {

constexpr size_t kMaxDigits = 15;  // a double holds 15 decimal digits exactly
constexpr double kPowersOfTen[kMaxDigits + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// True when `digits` is exactly two hex digits equal to the XOR of `data`'s characters.
bool ChecksumMatches(std::string_view data, std::string_view digits) {
    if (digits.size() != 2) {
        return false;
    }
    const int high = hex_digit_value(digits[0]);
    const int low = hex_digit_value(digits[1]);
    if (high < 0 || low < 0) {
        return false;
    }
    uint8_t sum = 0;
    for (char c : data) {
        sum ^= static_cast<uint8_t>(c);
    }
    return sum == high * 16 + low;
}

NmeaKind KindOf(std::string_view address) {
    if (address == "PNSNR") {
        return NmeaKind::kSNR;
    }
    // A talker is two capital letters; one beginning with 'P' marks a maker's own sentence.
    if (address.size() != 5 || address[0] == 'P' || !IsUpper(address[0]) || !IsUpper(address[1])) {
        return NmeaKind::kOther;
    }
    constexpr std::pair<std::string_view, NmeaKind> kKinds[] = {{"GGA", NmeaKind::kGGA},
                                                                {"GSA", NmeaKind::kGSA},
                                                                {"VTG", NmeaKind::kVTG},
                                                                {"RMC", NmeaKind::kRMC},
                                                                {"ZDA", NmeaKind::kZDA}};
    for (const auto& [name, kind] : kKinds) {
        if (address.substr(2) == name) {
            return kind;
        }
    }
    return NmeaKind::kOther;
}

void SplitFields(std::string_view data, NmeaFields& out) {
    size_t comma = data.find(',');
    out.address = data.substr(0, comma);
    out.talker = out.address.substr(0, 2);
    out.kind = KindOf(out.address);
    while (comma != std::string_view::npos && out.count < NmeaFields::kMaxFields) {
        const size_t start = comma + 1;
        comma = data.find(',', start);
        out.field[out.count++] =
            data.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    }
}

// [+-]digits[.digits], at least one digit. Digits past the kMaxDigits-th are dropped when they
// are a fraction's (they change nothing a display shows); a number that needs more digits
// before its point is too large to be one the receiver means.
std::optional<double> Number(std::string_view s) {
    size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        i = 1;
    }
    int64_t mantissa = 0;
    size_t digits = 0;
    size_t fractionDigits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] == '.' && !point) {
            point = true;
            continue;
        }
        if (!IsDigit(s[i]) || (digits == kMaxDigits && !point)) {
            return std::nullopt;
        }
        if (digits == kMaxDigits) {
            continue;
        }
        mantissa = mantissa * 10 + (s[i] - '0');
        ++digits;
        fractionDigits += point ? 1 : 0;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    const double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    return negative ? -value : value;
}

// Digits only, at most nine.
std::optional<int> Integer(std::string_view s) {
    if (s.empty() || s.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : s) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> IntegerIn(std::string_view s, int low, int high) {
    const auto value = Integer(s);
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

int TwoDigits(std::string_view s) {
    return (s[0] - '0') * 10 + (s[1] - '0');
}

bool LeadingDigits(std::string_view s, size_t n) {
    if (s.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!IsDigit(s[i])) {
            return false;
        }
    }
    return true;
}

// hhmmss or hhmmss.s...
std::optional<NmeaTime> Time(std::string_view s) {
    if (!LeadingDigits(s, 6) || (s.size() > 6 && s[6] != '.')) {
        return std::nullopt;
    }
    const auto second = Number(s.substr(4));
    NmeaTime t{TwoDigits(s), TwoDigits(s.substr(2)), second.value_or(99)};
    if (!second || t.hour > 23 || t.minute > 59 || t.second >= 61) {  // 60: a leap second
        return std::nullopt;
    }
    return t;
}

std::optional<NmeaDate> Date(int day, int month, int year) {
    if (day < 1 || day > 31 || month < 1 || month > 12) {
        return std::nullopt;
    }
    return NmeaDate{year, month, day};
}

// ddmmyy
std::optional<NmeaDate> CompactDate(std::string_view s) {
    if (s.size() != 6 || !LeadingDigits(s, 6)) {
        return std::nullopt;
    }
    const int yy = TwoDigits(s.substr(4));
    return Date(TwoDigits(s), TwoDigits(s.substr(2)), yy >= 80 ? 1900 + yy : 2000 + yy);
}

// (d)ddmm.mmm with its hemisphere letter, as signed degrees.
std::optional<double> Angle(std::string_view value, std::string_view hemisphere, double maxDegrees,
                            char positive, char negative) {
    const auto v = Number(value);
    if (!v || *v < 0 || hemisphere.size() != 1 || (hemisphere[0] != positive && hemisphere[0] != negative)) {
        return std::nullopt;
    }
    const double whole = std::floor(*v / 100.0);
    const double minutes = *v - whole * 100.0;
    const double degrees = whole + minutes / 60.0;
    if (minutes >= 60.0 || degrees > maxDegrees) {
        return std::nullopt;
    }
    return hemisphere[0] == positive ? degrees : -degrees;
}

// Fields first to last as they stand in the sentence, commas included (as far as the sentence
// goes); empty when all of them are.
std::string_view Span(const NmeaFields& f, size_t first, size_t last) {
    bool sent = false;
    for (size_t i = first; i <= last; ++i) {
        sent = sent || !f[i].empty();
    }
    if (!sent) {
        return {};
    }
    const std::string_view from = f[first];
    const std::string_view to = f[std::min(last, f.count - 1)];
    return {from.data(), static_cast<size_t>(to.data() + to.size() - from.data())};
}

Reading<double> NumberField(std::string_view s) {
    return Reading<double>::Of(s, Number(s));
}

Reading<int> IntegerField(std::string_view s, int low = 0, int high = 999'999'999) {
    return Reading<int>::Of(s, IntegerIn(s, low, high));
}

Reading<NmeaTime> TimeField(std::string_view s) {
    return Reading<NmeaTime>::Of(s, Time(s));
}

// An angle and its hemisphere letter; what was sent is the number alone when the letter is
// right, else both fields.
Reading<double> AngleField(const NmeaFields& f, size_t at, double maxDegrees, char positive, char negative) {
    const std::string_view hemisphere = f[at + 1];
    const bool hemisphereRight =
        hemisphere.size() == 1 && (hemisphere[0] == positive || hemisphere[0] == negative);
    return Reading<double>::Of(hemisphereRight ? f[at] : Span(f, at, at + 1),
                               Angle(f[at], hemisphere, maxDegrees, positive, negative));
}

Reading<double> Latitude(const NmeaFields& f, size_t at) {
    return AngleField(f, at, 90.0, 'N', 'S');
}

Reading<double> Longitude(const NmeaFields& f, size_t at) {
    return AngleField(f, at, 180.0, 'E', 'W');
}

}  // namespace

FieldText FieldText::Of(std::string_view text) {
    FieldText out;
    out.size = static_cast<uint8_t>(std::min(text.size(), kMaxSize));
    out.cut = text.size() > kMaxSize;
    std::copy_n(text.begin(), out.size, out.chars.begin());
    return out;
}

bool FieldText::LooksNumeric() const {
    const std::string_view text = View();
    const bool hasSign = !text.empty() && (text[0] == '-' || text[0] == '+');
    bool digit = false;
    for (char c : text.substr(hasSign ? 1 : 0)) {
        if (!IsDigit(c) && c != '.') {
            return false;
        }
        digit = digit || IsDigit(c);
    }
    return digit;
}

const char* NmeaKindName(NmeaKind kind) {
    constexpr const char* kNames[kNmeaKindCount] = {"GGA", "GSA", "VTG", "RMC", "ZDA", "SNR", "Other"};
    const auto index = static_cast<size_t>(kind);
    return index < kNmeaKindCount ? kNames[index] : "Other";
}

NmeaCheck SplitNmea(std::string_view line, NmeaFields& out) {
    out = NmeaFields{};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.empty() || line[0] != '$') {
        return NmeaCheck::kNotSentence;
    }
    const std::string_view body = line.substr(1);
    const size_t star = body.find('*');
    const std::string_view data = body.substr(0, star);
    SplitFields(data, out);
    if (star == std::string_view::npos) {
        return NmeaCheck::kNoChecksum;
    }
    return ChecksumMatches(data, body.substr(star + 1)) ? NmeaCheck::kValid : NmeaCheck::kBadChecksum;
}

GgaData DecodeGga(const NmeaFields& f) {
    GgaData d;
    d.utc = TimeField(f[0]);
    d.latitudeDeg = Latitude(f, 1);
    d.longitudeDeg = Longitude(f, 3);
    d.quality = IntegerField(f[5], 0, 9);
    d.satellitesUsed = IntegerField(f[6]);
    d.hdop = NumberField(f[7]);
    d.altitudeM = NumberField(f[8]);
    d.geoidSeparationM = NumberField(f[10]);
    return d;
}

GsaData DecodeGsa(const NmeaFields& f) {
    constexpr size_t kFirstPrn = 2;
    GsaData d;
    if (f[0] == "A" || f[0] == "M") {
        d.selection = f[0][0];
    }
    d.mode = IntegerField(f[1], 1, 3);
    for (size_t i = kFirstPrn; i < kFirstPrn + d.prns.size(); ++i) {
        const Reading<int> prn = IntegerField(f[i], 1, 999);
        if (prn) {
            d.prns[d.prnCount++] = *prn;
        } else if (!prn.unread.Empty() && d.unreadPrnCount++ == 0) {
            d.firstUnreadPrn = prn.unread;
        }
    }
    d.pdop = NumberField(f[14]);
    d.hdop = NumberField(f[15]);
    d.vdop = NumberField(f[16]);
    d.systemId = IntegerField(f[17]);
    return d;
}

VtgData DecodeVtg(const NmeaFields& f) {
    VtgData d;
    d.courseTrueDeg = NumberField(f[0]);
    d.speedKnots = NumberField(f[4]);
    d.speedKmh = NumberField(f[6]);
    return d;
}

RmcData DecodeRmc(const NmeaFields& f) {
    RmcData d;
    d.utc = TimeField(f[0]);
    d.valid = f[1] == "A";
    d.latitudeDeg = Latitude(f, 2);
    d.longitudeDeg = Longitude(f, 4);
    d.speedKnots = NumberField(f[6]);
    d.courseTrueDeg = NumberField(f[7]);
    d.date = Reading<NmeaDate>::Of(f[8], CompactDate(f[8]));
    return d;
}

ZdaData DecodeZda(const NmeaFields& f) {
    ZdaData d;
    d.utc = TimeField(f[0]);
    const auto day = Integer(f[1]);
    const auto month = Integer(f[2]);
    const auto year = f[3].size() == 4 ? Integer(f[3]) : std::nullopt;
    d.date =
        Reading<NmeaDate>::Of(Span(f, 1, 3), day && month && year ? Date(*day, *month, *year) : std::nullopt);
    return d;
}

SnrData DecodeSnr(const NmeaFields& f) {
    SnrData d;
    d.accuracy = IntegerField(f[0], 0, 100);
    d.correctionDb = NumberField(f[1]);
    d.l1Snr = NumberField(f[2]);
    d.l2Snr = NumberField(f[3]);
    d.backupSatellites = IntegerField(f[4]);
    return d;
}
