#include "sim/Nmeasource.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "proto/Messages.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCentreLatitude = 48.1173;
constexpr double kCentreLongitude = 11.5167;
constexpr double kRadiusM = 400.0;
constexpr double kSpeedMps = 6.0;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kKnotsPerMps = 1.943844;

struct UtcTime {
    int hour, minute, second, centis, day, month, year;
};

UtcTime ToUtc(int64_t wallMs) {
    const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return {tm.tm_hour, tm.tm_min,     tm.tm_sec,        static_cast<int>((wallMs % 1000) / 10),
            tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900};
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// ddmm.mmmmm (latitude, two degree digits) or dddmm.mmmmm (longitude, three).
std::string Angle(double degrees, int degreeDigits) {
    const double magnitude = std::fabs(degrees);
    const int whole = static_cast<int>(magnitude);
    const double minutes = (magnitude - whole) * 60.0;
    return Format("%0*d%08.5f", degreeDigits, whole, minutes);
}

std::string LatLon(const NmeaFix& fix) {
    return Angle(fix.latitudeDeg, 2) + (fix.latitudeDeg >= 0 ? ",N," : ",S,") + Angle(fix.longitudeDeg, 3) +
           (fix.longitudeDeg >= 0 ? ",E" : ",W");
}

std::string TimeField(const UtcTime& t) {
    return Format("%02d%02d%02d.%02d", t.hour, t.minute, t.second, t.centis);
}

std::string Gga(const NmeaFix& fix, const UtcTime& t) {
    return "GPGGA," + TimeField(t) + "," + LatLon(fix) +
           Format(",2,09,0.9,%.1f,M,47.0,M,3.0,0120", fix.altitudeM);
}

std::string Gsa() {
    return "GPGSA,A,3,02,05,07,09,13,16,20,27,30,,,,1.6,0.9,1.3";
}

std::string Vtg(const NmeaFix& fix) {
    return Format("GPVTG,%.1f,T,,M,%.2f,N,%.2f,K,D", fix.courseDeg, fix.speedMps * kKnotsPerMps,
                  fix.speedMps * 3.6);
}

std::string Zda(const UtcTime& t) {
    return "GPZDA," + TimeField(t) + Format(",%02d,%02d,%04d,00,00", t.day, t.month, t.year);
}

std::string Rmc(const NmeaFix& fix, const UtcTime& t) {
    return "GPRMC," + TimeField(t) + ",A," + LatLon(fix) +
           Format(",%.2f,%.1f,%02d%02d%02d,,,D", fix.speedMps * kKnotsPerMps, fix.courseDeg, t.day, t.month,
                  t.year % 100);
}

// Accuracy 0-100, correction signal level in dB, average L1 and L2 SNR, satellites in L1
// backup navigation. The values wander with time so that a display shows life: a quick
// ripple, and for the SNR a slow swing of a few dB as the vehicle's surroundings shade the sky.
std::string Snr(double elapsedS) {
    const double wobble = std::sin(elapsedS / 7.0);
    const double shade = 2.5 * std::sin(elapsedS / 19.0);
    return Format("PNSNR,%d,%.1f,%.1f,%.1f,%d", 92 + static_cast<int>(wobble * 3), 11.5 + wobble,
                  44.2 + wobble + shade, 38.7 - wobble + shade, 1);
}

}  // namespace

uint8_t NmeaChecksum(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    return sum;
}

std::string NmeaSentence(const std::string& body) {
    return "$" + body + Format("*%02X\r\n", NmeaChecksum(body));
}

NmeaFix NmeaSource::FixAt(double elapsedS) {
    const double angle = elapsedS * kSpeedMps / kRadiusM;  // radians travelled on the circle
    const double northM = kRadiusM * std::cos(angle);
    const double eastM = kRadiusM * std::sin(angle);
    NmeaFix fix;
    fix.latitudeDeg = kCentreLatitude + northM / kMetresPerDegree;
    fix.longitudeDeg =
        kCentreLongitude + eastM / (kMetresPerDegree * std::cos(kCentreLatitude * kPi / 180.0));
    fix.speedMps = kSpeedMps;
    // Clockwise seen from above: heading is the bearing of the position plus a quarter turn.
    fix.courseDeg = std::fmod(angle * 180.0 / kPi + 90.0, 360.0);
    fix.altitudeM = 519.0 + std::sin(angle) * 1.5;
    return fix;
}

std::vector<std::string> NmeaSource::Epoch(uint32_t mask, int64_t wallMs, double elapsedS) {
    const NmeaFix fix = FixAt(elapsedS);
    const UtcTime t = ToUtc(wallMs);
    std::vector<std::string> out;
    if (mask & config::kMaskGGA) {
        out.push_back(NmeaSentence(Gga(fix, t)));
    }
    if (mask & config::kMaskGSA) {
        out.push_back(NmeaSentence(Gsa()));
    }
    if (mask & config::kMaskVTG) {
        out.push_back(NmeaSentence(Vtg(fix)));
    }
    if (mask & config::kMaskZDA) {
        out.push_back(NmeaSentence(Zda(t)));
    }
    if (mask & config::kMaskRMC) {
        out.push_back(NmeaSentence(Rmc(fix, t)));
    }
    if (mask & config::kMaskSNR) {
        out.push_back(NmeaSentence(Snr(elapsedS)));
    }
    return out;
}

std::vector<std::string> NmeaSource::OtherTalkers(int64_t wallMs) {
    const UtcTime t = ToUtc(wallMs);
    return {NmeaSentence("GLGSV,2,1,07,65,42,032,41,66,71,140,44,72,18,301,37,79,55,210,42"),
            NmeaSentence("BDGSA,A,3,201,203,206,,,,,,,,,,1.9,1.1,1.5"),
            NmeaSentence("GNZDA," + TimeField(t) + Format(",%02d,%02d,%04d,00,00", t.day, t.month, t.year))};
}
