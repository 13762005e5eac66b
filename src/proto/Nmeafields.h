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
// - An empty field is a value not known; so is a field that does not read as its type.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

enum class NmeaCheck : uint8_t {
    kValid,        // '*hh' present and matching
    kBadChecksum,  // '*' present, but not two hex digits that match
    kNoChecksum,   // a sentence without '*': unchecked
    kNotSentence,  // does not begin with '$'
};

enum class NmeaKind : uint8_t { kGGA, kGSA, kVTG, kRMC, kZDA, kSNR, kOther };
inline constexpr size_t kNmeaKindCount = 7;

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
    std::optional<NmeaTime> utc;
    std::optional<double> latitudeDeg;   // north positive
    std::optional<double> longitudeDeg;  // east positive
    std::optional<int> quality;          // 0 invalid, 1 GPS, 2 DGPS, 4 RTK fixed, 5 RTK float, 6 estimated
    std::optional<int> satellitesUsed;
    std::optional<double> hdop;
    std::optional<double> altitudeM;         // above mean sea level
    std::optional<double> geoidSeparationM;  // the geoid above the WGS-84 ellipsoid
};

struct GsaData {
    char selection = 0;       // 'A' automatic or 'M' manual 2D/3D; 0 when not known
    std::optional<int> mode;  // 1 no fix, 2 2D, 3 3D
    std::array<int, 12> prns{};
    size_t prnCount = 0;
    std::optional<double> pdop;
    std::optional<double> hdop;
    std::optional<double> vdop;
    std::optional<int> systemId;  // the optional 18th field: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, ...
};

// The lettered form "course,T,course,M,speed,N,speed,K[,mode]".
struct VtgData {
    std::optional<double> courseTrueDeg;
    std::optional<double> speedKnots;
    std::optional<double> speedKmh;
};

struct RmcData {
    std::optional<NmeaTime> utc;
    bool valid = false;  // status 'A'; 'V' is the receiver's warning that the fix is not valid
    std::optional<double> latitudeDeg;
    std::optional<double> longitudeDeg;
    std::optional<double> speedKnots;
    std::optional<double> courseTrueDeg;
    std::optional<NmeaDate> date;
};

struct ZdaData {
    std::optional<NmeaTime> utc;
    std::optional<NmeaDate> date;
};

// $PNSNR,accuracy,correction level,L1 SNR,L2 SNR,satellites in L1 backup navigation
struct SnrData {
    std::optional<int> accuracy;  // 0 to 100
    std::optional<double> correctionDb;
    std::optional<double> l1Snr;  // average over the satellites used in the solution
    std::optional<double> l2Snr;
    std::optional<int> backupSatellites;
};

GgaData DecodeGga(const NmeaFields& f);
GsaData DecodeGsa(const NmeaFields& f);
VtgData DecodeVtg(const NmeaFields& f);
RmcData DecodeRmc(const NmeaFields& f);
ZdaData DecodeZda(const NmeaFields& f);
SnrData DecodeSnr(const NmeaFields& f);
