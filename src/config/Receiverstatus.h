#pragma once
// What the receiver last said about its fix and its signals, gathered from the sentences it
// sends: the latest value of each quantity (whichever sentence carried it last), when each
// kind of sentence last came and how many came, the checksum failures, and ten minutes of
// signal history for a plot. Times are monotonic milliseconds given by the caller. The
// model has a fixed size: nothing is allocated as lines come in.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "proto/Nmeafields.h"

// The satellites one GSA sentence says are used: per talker and, for a combined ($GN)
// receiver that sends one GSA per system, per system id. A set is dropped when a newer GSA
// of another set comes and it has not been renewed for kStaleMs (that system has gone
// quiet); the last sets stay when GSA stops altogether, and the GSA age shows it.
struct UsedSatellites {
    std::array<char, 2> talker{};
    int systemId = 0;  // 0 when the sentence gives none
    std::array<int, 12> prns{};
    size_t count = 0;
    size_t unreadCount = 0;  // PRN fields that did not read as a PRN
    FieldText firstUnread;
    int64_t ms = 0;  // when it came
};

struct StatusValues {
    Reading<int> fixQuality;  // GGA
    char fixSelection = 0;    // GSA: 'A' or 'M'
    Reading<int> fixMode;     // GSA: 1 no fix, 2 2D, 3 3D
    Reading<int> satellitesUsed;
    Reading<double> pdop;
    Reading<double> hdop;  // GSA or GGA
    Reading<double> vdop;
    Reading<double> latitudeDeg;  // GGA or RMC
    Reading<double> longitudeDeg;
    Reading<double> altitudeM;
    Reading<double> speedKnots;  // VTG or RMC
    Reading<double> speedKmh;
    Reading<double> courseDeg;
    Reading<NmeaTime> utcTime;  // GGA, RMC or ZDA
    Reading<NmeaDate> utcDate;  // RMC or ZDA
    SnrData snr;                // $PNSNR
};

// One second's signal levels: the last $PNSNR of that second. NaN marks a value not sent.
struct SignalPoint {
    int64_t ms = 0;
    double l1Snr = 0;
    double l2Snr = 0;
    double correctionDb = 0;
};

class ReceiverStatus {
  public:
    static constexpr int64_t kHistoryMs = 10 * 60 * 1000;
    static constexpr int64_t kStaleMs = 3000;  // a kind not heard for longer is overdue
    static constexpr size_t kHistoryCapacity = kHistoryMs / 1000 + 1;
    static constexpr size_t kMaxSatelliteSets = 6;

    // Takes one received line, CR LF optional, at nowMs. A line that is not a sentence
    // (no '$' first) is ignored; a bad checksum is counted as a failure and a sentence
    // without one as unchecked, neither decoded; every checked sentence counts for its kind.
    void TakeLine(std::string_view line, int64_t nowMs);
    // Forgets the history older than kHistoryMs.
    void Expire(int64_t nowMs);

    const StatusValues& Values() const { return values_; }
    uint32_t Count(NmeaKind kind) const { return counts_[static_cast<size_t>(kind)]; }
    // How long ago the last checked sentence of `kind` came; nothing when none has.
    std::optional<int64_t> AgeMs(NmeaKind kind, int64_t nowMs) const;
    bool IsStale(NmeaKind kind, int64_t nowMs) const;
    uint32_t ChecksumFailures() const { return checksumFailures_; }
    uint32_t Unchecked() const { return unchecked_; }

    size_t SatelliteSetCount() const { return satelliteSetCount_; }
    const UsedSatellites& SatelliteSet(size_t i) const { return satelliteSets_[i]; }

    size_t HistorySize() const { return historySize_; }
    // The i-th point of the history, 0 the oldest.
    const SignalPoint& HistoryAt(size_t i) const;

  private:
    void Apply(const NmeaFields& f, int64_t nowMs);
    void ApplyGga(const GgaData& d);
    void ApplyGsa(const NmeaFields& f, const GsaData& d, int64_t nowMs);
    void ApplyVtg(const VtgData& d);
    void ApplyRmc(const RmcData& d);
    void ApplySnr(const SnrData& d, int64_t nowMs);
    void RemoveSatelliteSet(size_t i);

    StatusValues values_;
    std::array<uint32_t, kNmeaKindCount> counts_{};
    std::array<std::optional<int64_t>, kNmeaKindCount> lastMs_{};
    uint32_t checksumFailures_ = 0;
    uint32_t unchecked_ = 0;
    std::array<UsedSatellites, kMaxSatelliteSets> satelliteSets_{};
    size_t satelliteSetCount_ = 0;
    std::array<SignalPoint, kHistoryCapacity> history_{};  // a ring
    size_t historyFirst_ = 0;
    size_t historySize_ = 0;
};
