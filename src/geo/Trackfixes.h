#pragma once
// The fixes of a track, read from received lines: each GGA sentence with a fix becomes one
// TrackFix, dated.
//
// GGA tells the time of day only. A fix's date is the one that puts it nearest to the time it
// was expected at: the receiver's own latest date and time (RMC with a valid fix, or ZDA)
// carried forward by the arrival time elapsed since, or, before the receiver has told a date,
// the arrival time itself when that is a wall-clock time (a live line, a recording). So a
// track across midnight moves on to the next day, and a PC clock that is wrong by minutes or
// hours still gives the receiver's date. Fixes that arrive before the first RMC or ZDA are
// held (a bounded number) until one comes, so they get the receiver's date too.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geo/Geodesy.h"

struct TrackFix {
    std::optional<int64_t> timeOfDayMs;  // UTC, from the GGA
    std::optional<int64_t> utcMs;        // date and time, ms since 1970 UTC, when the date is known
    double latitudeDeg = 0;
    double longitudeDeg = 0;
    std::optional<double> altitudeM;         // above mean sea level
    std::optional<double> geoidSeparationM;  // the geoid above the ellipsoid
    int quality = 0;                         // GGA's fix quality, above 0
    std::optional<int> satellites;
    std::optional<double> hdop;

    // The height above the ellipsoid: altitude plus geoid separation (a missing separation
    // counts as 0); nothing without an altitude.
    std::optional<double> HeightM() const;
};

// The fix a line holds: a GGA sentence with a valid checksum, a fix (quality above 0) and a
// position. Nothing for any other line.
std::optional<TrackFix> GgaFix(std::string_view line);

// When a line arrived: microseconds since 1970 UTC when `utc` (a live line, a recording),
// otherwise counted from an unknown start (a plain capture paced at its line rate).
struct LineTime {
    int64_t us = 0;
    bool utc = false;
};

class TrackReader {
  public:
    // At 5 Hz, two minutes of fixes wait for the receiver's date at most.
    static constexpr size_t kMaxHeld = 600;
    using FixHandler = std::function<void(const TrackFix&)>;

    explicit TrackReader(FixHandler onFix) : onFix_(std::move(onFix)) {}

    // Takes one received line; hands over each fix whose date is settled, in order.
    void TakeLine(std::string_view line, LineTime time);
    // Hands over the fixes still held: the input has ended.
    void Finish();
    // Fixes handed over so far.
    size_t Fixes() const { return fixes_; }

  private:
    struct Held {
        TrackFix fix;
        LineTime time;
    };
    struct DateAnchor {
        int64_t utcMs = 0;
        int64_t arrivalUs = 0;
    };
    void Hand(TrackFix fix, LineTime time);
    void Release();

    FixHandler onFix_;
    std::optional<DateAnchor> anchor_;
    std::vector<Held> held_;
    bool holding_ = true;  // no date from the receiver yet
    size_t fixes_ = 0;
};

// "2026-12-09T14:05:37.2Z": ISO 8601 in UTC, the fraction only when there is one (up to ms).
std::string IsoUtcText(int64_t utcMs);
// "14:05:37.2" for a time of day, the fraction as in IsoUtcText.
std::string TimeOfDayText(int64_t timeOfDayMs);
