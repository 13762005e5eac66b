#pragma once
// Splits an NMEA 0183 sentence into its fields, checks its checksum, and decodes the kinds
// that the receiver sends: GGA, GSA, VTG, RMC and ZDA of any talker ($GP, $GN, $GL, $GA,
// $BD, ...) and the receiver's own $PNSNR. Works in place: the fields are views into the
// caller's line, and nothing is allocated.
//
// What the splitter assumes, each a row of its tests:
// - A line may end in CR LF (as the line framer hands it over), in CR or LF alone, or in
//   nothing.
// - A sentence begins with '$' and its address (talker and kind, or "P" and a maker's code)
//   runs to the first ',' or '*'.
// - A checksum is '*' and two hex digits, upper or lower case, ending the sentence: the XOR
//   of every character between '$' and '*'. A mismatch, or anything else after the '*', is
//   a bad checksum.
// - A sentence without '*' is unchecked and is not decoded. The receiver always sends the
//   checksum, so such a line is most likely a sentence whose tail was lost on the line: its
//   last field cannot be trusted. It is reported apart from the bad checksums.
// - An empty field is a value not known; so is a field that does not read as its type, or
//   whose value lies outside what the quantity can be. Such a field's text is kept with the
//   reading (cut to a fixed length), so that a display can say what came instead of a value.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

enum class NmeaCheck : uint8_t {
    kValid,        // '*hh' present and matching
    kBadChecksum,  // '*' present, but not two hex digits that match
    kNoChecksum,   // a sentence without '*': unchecked
    kNotSentence,  // does not begin with '$'
};

enum class NmeaKind : uint8_t { kGGA, kGSA, kVTG, kRMC, kZDA, kSNR, kOther };
inline constexpr size_t kNmeaKindCount = 7;

// The text of a field as the receiver sent it, cut to kMaxSize characters, in a fixed record.
struct FieldText {
    static constexpr size_t kMaxSize = 20;
    std::array<char, kMaxSize> chars{};
    uint8_t size = 0;
    bool cut = false;  // the field was longer than kMaxSize

    static FieldText Of(std::string_view text);
    std::string_view View() const { return {chars.data(), size}; }
    bool Empty() const { return size == 0; }
    // Only a sign, digits and a point: a number, though too long or outside the quantity's range.
    bool LooksNumeric() const;
};

// A quantity read from a sentence: the std::optional it is holds its value, or nothing. When
// the receiver sent something that gave no value (text that is not a number, more digits than
// a field holds, a value outside the quantity's range), `unread` keeps what was sent.
template <typename T>
struct Reading : std::optional<T> {
    using std::optional<T>::optional;
    // Implicit, as an optional's own value is: a plain value or optional is a reading of it.
    Reading(std::optional<T> value) : std::optional<T>(std::move(value)) {}

    // The reading of a field of text `sent` whose value is `value`: nothing kept when the field is empty.
    static Reading Of(std::string_view sent, std::optional<T> value) {
        Reading reading(std::move(value));
        if (!reading && !sent.empty()) {
            reading.unread = FieldText::Of(sent);
        }
        return reading;
    }

    FieldText unread;
};

// "GGA", ..., "SNR", "Other".
const char* NmeaKindName(NmeaKind kind);

struct NmeaFields {
    static constexpr size_t kMaxFields = 24;  // GSA, the longest kind decoded, has 18

    std::string_view address;  // "GPGGA", "PNSNR"
    std::string_view talker;   // the address's first two characters: "GP", "GN", "PN"
    NmeaKind kind = NmeaKind::kOther;
    std::array<std::string_view, kMaxFields> field{};  // the fields after the address
    size_t count = 0;                                  // fields stored; those beyond kMaxFields are dropped

    // Field i, or an empty view when the sentence has fewer fields.
    std::string_view operator[](size_t i) const { return i < count ? field[i] : std::string_view(); }
};

// Splits `line` into `out` and checks its checksum. `out` is filled whatever the result,
// as far as the line allows; only a kValid sentence should be decoded.
NmeaCheck SplitNmea(std::string_view line, NmeaFields& out);

struct NmeaTime {
    int hour = 0;
    int minute = 0;
    double second = 0;  // with its fraction
};

struct NmeaDate {
    int year = 0;  // four digits; RMC's two-digit years 80-99 are 1980-1999, 00-79 2000-2079
    int month = 0;
    int day = 0;
};

struct GgaData {
    Reading<NmeaTime> utc;
    Reading<double> latitudeDeg;   // north positive
    Reading<double> longitudeDeg;  // east positive
    Reading<int> quality;          // 0 invalid, 1 GPS, 2 DGPS, 4 RTK fixed, 5 RTK float, 6 estimated
    Reading<int> satellitesUsed;
    Reading<double> hdop;
    Reading<double> altitudeM;         // above mean sea level
    Reading<double> geoidSeparationM;  // the geoid above the WGS-84 ellipsoid
};

struct GsaData {
    char selection = 0;  // 'A' automatic or 'M' manual 2D/3D; 0 when not known
    Reading<int> mode;   // 1 no fix, 2 2D, 3 3D
    std::array<int, 12> prns{};
    size_t prnCount = 0;
    size_t unreadPrnCount = 0;  // PRN fields sent that did not read as a PRN
    FieldText firstUnreadPrn;
    Reading<double> pdop;
    Reading<double> hdop;
    Reading<double> vdop;
    Reading<int> systemId;  // the optional 18th field: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, ...
};

// The lettered form "course,T,course,M,speed,N,speed,K[,mode]".
struct VtgData {
    Reading<double> courseTrueDeg;
    Reading<double> speedKnots;
    Reading<double> speedKmh;
};

struct RmcData {
    Reading<NmeaTime> utc;
    bool valid = false;  // status 'A'; 'V' is the receiver's warning that the fix is not valid
    Reading<double> latitudeDeg;
    Reading<double> longitudeDeg;
    Reading<double> speedKnots;
    Reading<double> courseTrueDeg;
    Reading<NmeaDate> date;
};

struct ZdaData {
    Reading<NmeaTime> utc;
    Reading<NmeaDate> date;
};

// $PNSNR,accuracy,correction level,L1 SNR,L2 SNR,satellites in L1 backup navigation
struct SnrData {
    Reading<int> accuracy;  // 0 to 100
    Reading<double> correctionDb;
    Reading<double> l1Snr;  // average over the satellites used in the solution
    Reading<double> l2Snr;
    Reading<int> backupSatellites;
};

GgaData DecodeGga(const NmeaFields& f);
GsaData DecodeGsa(const NmeaFields& f);
VtgData DecodeVtg(const NmeaFields& f);
RmcData DecodeRmc(const NmeaFields& f);
ZdaData DecodeZda(const NmeaFields& f);
SnrData DecodeSnr(const NmeaFields& f);
