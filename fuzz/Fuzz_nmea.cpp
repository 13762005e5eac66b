// Feeds arbitrary bytes to the NMEA splitter, the decoders and the receiver status, whole
// and line by line, and checks that every field lies inside the line and that every decoded
// value is within its range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/Receiverstatus.h"
#include "proto/Nmeafields.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() ||
           (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckRange(const std::optional<double>& v, double limit) {
    Require(!v || (std::isfinite(*v) && std::fabs(*v) <= limit));
}

void CheckTime(const std::optional<NmeaTime>& t) {
    Require(!t || (t->hour < 24 && t->minute < 60 && t->second < 61));
}

void SplitAndDecode(std::string_view line) {
    NmeaFields f;
    const NmeaCheck check = SplitNmea(line, f);
    Require(f.count <= NmeaFields::kMaxFields && Inside(f.address, line));
    for (size_t i = 0; i < f.count; ++i) {
        Require(Inside(f.field[i], line));
    }
    if (check != NmeaCheck::kValid) {
        return;
    }
    const GgaData gga = DecodeGga(f);
    CheckRange(gga.latitudeDeg, 90);
    CheckRange(gga.longitudeDeg, 180);
    CheckTime(gga.utc);
    const GsaData gsa = DecodeGsa(f);
    Require(gsa.prnCount <= gsa.prns.size());
    const RmcData rmc = DecodeRmc(f);
    CheckRange(rmc.latitudeDeg, 90);
    CheckRange(rmc.longitudeDeg, 180);
    Require(!rmc.date || (rmc.date->month >= 1 && rmc.date->month <= 12 && rmc.date->day >= 1));
    CheckTime(DecodeZda(f).utc);
    DecodeVtg(f);
    const SnrData snr = DecodeSnr(f);
    Require(!snr.accuracy || (*snr.accuracy >= 0 && *snr.accuracy <= 100));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ReceiverStatus status;
    status = ReceiverStatus{};
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    SplitAndDecode(all);
    int64_t ms = 0;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\n', start);
        const std::string_view line =
            all.substr(start, end == std::string_view::npos ? end : end + 1 - start);
        SplitAndDecode(line);
        status.TakeLine(line, ms += 150);
        start = end == std::string_view::npos ? all.size() : end + 1;
    }
    Require(status.HistorySize() <= ReceiverStatus::kHistoryCapacity);
    Require(status.SatelliteSetCount() <= ReceiverStatus::kMaxSatelliteSets);
    return 0;
}
