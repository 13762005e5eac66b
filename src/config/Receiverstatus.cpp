#include "config/Receiverstatus.h"

#include <algorithm>
#include <limits>

namespace {

constexpr double kKmhPerKnot = 1.852;

double OrNaN(const std::optional<double>& value) {
    return value.value_or(std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

void ReceiverStatus::TakeLine(std::string_view line, int64_t nowMs) {
    NmeaFields f;
    switch (SplitNmea(line, f)) {
        case NmeaCheck::kValid:
            Apply(f, nowMs);
            break;
        case NmeaCheck::kBadChecksum:
            ++checksumFailures_;
            break;
        case NmeaCheck::kNoChecksum:
            ++unchecked_;
            break;
        case NmeaCheck::kNotSentence:
            break;
    }
    Expire(nowMs);
}

void ReceiverStatus::Apply(const NmeaFields& f, int64_t nowMs) {
    const auto index = static_cast<size_t>(f.kind);
    ++counts_[index];
    lastMs_[index] = nowMs;
    switch (f.kind) {
        case NmeaKind::kGGA:
            ApplyGga(DecodeGga(f));
            break;
        case NmeaKind::kGSA:
            ApplyGsa(f, DecodeGsa(f), nowMs);
            break;
        case NmeaKind::kVTG:
            ApplyVtg(DecodeVtg(f));
            break;
        case NmeaKind::kRMC:
            ApplyRmc(DecodeRmc(f));
            break;
        case NmeaKind::kZDA: {
            const ZdaData d = DecodeZda(f);
            values_.utcTime = d.utc;
            values_.utcDate = d.date;
            break;
        }
        case NmeaKind::kSNR:
            ApplySnr(DecodeSnr(f), nowMs);
            break;
        case NmeaKind::kOther:
            break;
    }
}

void ReceiverStatus::ApplyGga(const GgaData& d) {
    values_.utcTime = d.utc;
    values_.latitudeDeg = d.latitudeDeg;
    values_.longitudeDeg = d.longitudeDeg;
    values_.fixQuality = d.quality;
    values_.satellitesUsed = d.satellitesUsed;
    values_.hdop = d.hdop;
    values_.altitudeM = d.altitudeM;
}

void ReceiverStatus::ApplyGsa(const NmeaFields& f, const GsaData& d, int64_t nowMs) {
    values_.fixSelection = d.selection;
    values_.fixMode = d.mode;
    values_.pdop = d.pdop;
    values_.hdop = d.hdop;
    values_.vdop = d.vdop;

    UsedSatellites set;
    std::copy_n(f.talker.begin(), std::min(f.talker.size(), set.talker.size()), set.talker.begin());
    set.systemId = d.systemId.value_or(0);
    set.prns = d.prns;
    set.count = d.prnCount;
    set.unreadCount = d.unreadPrnCount;
    set.firstUnread = d.firstUnreadPrn;
    set.ms = nowMs;
    size_t at = 0;
    while (at < satelliteSetCount_ &&
           (satelliteSets_[at].talker != set.talker || satelliteSets_[at].systemId != set.systemId)) {
        ++at;
    }
    if (at == satelliteSetCount_) {
        if (satelliteSetCount_ == satelliteSets_.size()) {
            const auto oldest = std::min_element(
                satelliteSets_.begin(), satelliteSets_.end(),
                [](const UsedSatellites& a, const UsedSatellites& b) { return a.ms < b.ms; });
            RemoveSatelliteSet(static_cast<size_t>(oldest - satelliteSets_.begin()));
            at = satelliteSetCount_;
        }
        ++satelliteSetCount_;
    }
    satelliteSets_[at] = set;
    for (size_t i = satelliteSetCount_; i-- > 0;) {
        if (nowMs - satelliteSets_[i].ms > kStaleMs) {
            RemoveSatelliteSet(i);
        }
    }
}

void ReceiverStatus::RemoveSatelliteSet(size_t i) {
    std::copy(satelliteSets_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
              satelliteSets_.begin() + static_cast<std::ptrdiff_t>(satelliteSetCount_),
              satelliteSets_.begin() + static_cast<std::ptrdiff_t>(i));
    --satelliteSetCount_;
}

void ReceiverStatus::ApplyVtg(const VtgData& d) {
    values_.courseDeg = d.courseTrueDeg;
    values_.speedKnots = d.speedKnots;
    values_.speedKmh = d.speedKmh;
    // A speed in one unit gives the other when the other was not sent at all.
    if (!d.speedKmh && d.speedKmh.unread.Empty() && d.speedKnots) {
        values_.speedKmh = *d.speedKnots * kKmhPerKnot;
    }
    if (!d.speedKnots && d.speedKnots.unread.Empty() && d.speedKmh) {
        values_.speedKnots = *d.speedKmh / kKmhPerKnot;
    }
}

void ReceiverStatus::ApplyRmc(const RmcData& d) {
    values_.utcTime = d.utc;
    values_.utcDate = d.date;
    // 'V' is the receiver's warning that the fix is not valid: its position and motion are
    // not shown as if they were.
    const auto valid = [&d](const Reading<double>& v) { return d.valid ? v : Reading<double>(); };
    values_.latitudeDeg = valid(d.latitudeDeg);
    values_.longitudeDeg = valid(d.longitudeDeg);
    values_.courseDeg = valid(d.courseTrueDeg);
    values_.speedKnots = valid(d.speedKnots);
    values_.speedKmh =
        values_.speedKnots ? Reading<double>(*values_.speedKnots * kKmhPerKnot) : Reading<double>();
}

void ReceiverStatus::ApplySnr(const SnrData& d, int64_t nowMs) {
    values_.snr = d;
    if (!d.l1Snr && !d.l2Snr && !d.correctionDb) {
        return;
    }
    const SignalPoint point{nowMs, OrNaN(d.l1Snr), OrNaN(d.l2Snr), OrNaN(d.correctionDb)};
    // One point a second bounds the history however fast the receiver sends.
    if (historySize_ > 0) {
        SignalPoint& last = history_[(historyFirst_ + historySize_ - 1) % history_.size()];
        if (last.ms / 1000 == nowMs / 1000) {
            last = point;
            return;
        }
    }
    if (historySize_ == history_.size()) {
        historyFirst_ = (historyFirst_ + 1) % history_.size();
        --historySize_;
    }
    history_[(historyFirst_ + historySize_) % history_.size()] = point;
    ++historySize_;
}

void ReceiverStatus::Expire(int64_t nowMs) {
    while (historySize_ > 0 && nowMs - history_[historyFirst_].ms > kHistoryMs) {
        historyFirst_ = (historyFirst_ + 1) % history_.size();
        --historySize_;
    }
}

const SignalPoint& ReceiverStatus::HistoryAt(size_t i) const {
    return history_[(historyFirst_ + i) % history_.size()];
}

std::optional<int64_t> ReceiverStatus::AgeMs(NmeaKind kind, int64_t nowMs) const {
    const auto& last = lastMs_[static_cast<size_t>(kind)];
    return last ? std::optional(nowMs - *last) : std::nullopt;
}

bool ReceiverStatus::IsStale(NmeaKind kind, int64_t nowMs) const {
    const auto age = AgeMs(kind, nowMs);
    return age && *age > kStaleMs;
}
