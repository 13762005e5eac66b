#include "geo/Trackfixes.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "proto/Nmeafields.h"

namespace {

constexpr int64_t kDayMs = 86'400'000;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// Days from 1970-01-01 to the date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = FloorDiv(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

struct CivilDate {
    int64_t year;
    int month;
    int day;
};

CivilDate CivilFromDays(int64_t days) {
    days += 719'468;
    const int64_t era = FloorDiv(days, 146'097);
    const int64_t dayOfEra = days - era * 146'097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t TimeOfDayMs(const NmeaTime& t) {
    return (t.hour * 3600LL + t.minute * 60LL) * 1000 + std::llround(t.second * 1000.0);
}

int64_t UtcMs(const NmeaDate& date, const NmeaTime& time) {
    return DaysFromCivil(date.year, date.month, date.day) * kDayMs + TimeOfDayMs(time);
}

// The time on the day nearest to `expectedMs` at which the clock read `timeOfDayMs`.
int64_t NearestDated(int64_t timeOfDayMs, int64_t expectedMs) {
    const int64_t day = FloorDiv(expectedMs, kDayMs);
    int64_t best = day * kDayMs + timeOfDayMs;
    for (const int64_t other : {day - 1, day + 1}) {
        const int64_t candidate = other * kDayMs + timeOfDayMs;
        if (std::llabs(candidate - expectedMs) < std::llabs(best - expectedMs)) {
            best = candidate;
        }
    }
    return best;
}

std::optional<TrackFix> FixOf(const NmeaFields& f) {
    const GgaData gga = DecodeGga(f);
    if (!gga.quality || *gga.quality == 0 || !gga.latitudeDeg || !gga.longitudeDeg) {
        return std::nullopt;
    }
    TrackFix fix;
    if (gga.utc) {
        fix.timeOfDayMs = TimeOfDayMs(*gga.utc);
    }
    fix.latitudeDeg = *gga.latitudeDeg;
    fix.longitudeDeg = *gga.longitudeDeg;
    fix.altitudeM = gga.altitudeM;
    fix.geoidSeparationM = gga.geoidSeparationM;
    fix.quality = *gga.quality;
    fix.satellites = gga.satellitesUsed;
    fix.hdop = gga.hdop;
    return fix;
}

// ".2", ".25", ".123" for the milliseconds, nothing for none.
std::string FractionText(int64_t ms) {
    if (ms == 0) {
        return "";
    }
    char text[8];
    std::snprintf(text, sizeof text, ".%03d", static_cast<int>(ms));
    std::string fraction(text);
    while (fraction.back() == '0') {
        fraction.pop_back();
    }
    return fraction;
}

}  // namespace

std::optional<double> TrackFix::HeightM() const {
    if (!altitudeM) {
        return std::nullopt;
    }
    return *altitudeM + geoidSeparationM.value_or(0.0);
}

std::optional<TrackFix> GgaFix(std::string_view line) {
    // Most lines are other sentences: a glance at the address passes them by before the
    // checksum is worked out.
    if (line.size() < 7 || line[0] != '$' || line.substr(3, 4) != "GGA,") {
        return std::nullopt;
    }
    NmeaFields f;
    if (SplitNmea(line, f) != NmeaCheck::kValid || f.kind != NmeaKind::kGGA) {
        return std::nullopt;
    }
    return FixOf(f);
}

void TrackReader::TakeLine(std::string_view line, LineTime time) {
    NmeaFields f;
    if (SplitNmea(line, f) != NmeaCheck::kValid) {
        return;
    }
    std::optional<int64_t> receiverUtcMs;
    if (f.kind == NmeaKind::kGGA) {
        if (auto fix = FixOf(f)) {
            if (holding_) {
                held_.push_back({*fix, time});
                if (held_.size() >= kMaxHeld) {
                    Release();
                }
            } else {
                Hand(*fix, time);
            }
        }
        return;
    }
    if (f.kind == NmeaKind::kRMC) {
        const RmcData rmc = DecodeRmc(f);
        if (rmc.valid && rmc.utc && rmc.date) {
            receiverUtcMs = UtcMs(*rmc.date, *rmc.utc);
        }
    } else if (f.kind == NmeaKind::kZDA) {
        const ZdaData zda = DecodeZda(f);
        if (zda.utc && zda.date) {
            receiverUtcMs = UtcMs(*zda.date, *zda.utc);
        }
    }
    if (receiverUtcMs) {
        anchor_ = DateAnchor{*receiverUtcMs, time.us};
        Release();
    }
}

void TrackReader::Finish() {
    Release();
}

void TrackReader::Hand(TrackFix fix, LineTime time) {
    std::optional<int64_t> expectedMs;
    if (anchor_) {
        expectedMs = anchor_->utcMs + FloorDiv(time.us - anchor_->arrivalUs, 1000);
    } else if (time.utc) {
        expectedMs = FloorDiv(time.us, 1000);
    }
    if (fix.timeOfDayMs && expectedMs) {
        fix.utcMs = NearestDated(*fix.timeOfDayMs, *expectedMs);
    }
    ++fixes_;
    onFix_(fix);
}

void TrackReader::Release() {
    holding_ = false;
    for (const Held& held : held_) {
        Hand(held.fix, held.time);
    }
    held_.clear();
    held_.shrink_to_fit();
}

std::string IsoUtcText(int64_t utcMs) {
    const int64_t days = FloorDiv(utcMs, kDayMs);
    const CivilDate date = CivilFromDays(days);
    const int64_t ms = utcMs - days * kDayMs;
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(date.year),
                  date.month, date.day, static_cast<int>(ms / 3'600'000), static_cast<int>(ms / 60'000 % 60),
                  static_cast<int>(ms / 1000 % 60));
    return text + FractionText(ms % 1000) + "Z";
}

std::string TimeOfDayText(int64_t timeOfDayMs) {
    if (timeOfDayMs >= kDayMs) {  // within a leap second
        return "23:59:60" + FractionText(timeOfDayMs % 1000);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(timeOfDayMs / 3'600'000),
                  static_cast<int>(timeOfDayMs / 60'000 % 60), static_cast<int>(timeOfDayMs / 1000 % 60));
    return text + FractionText(timeOfDayMs % 1000);
}
