#include "record/Replaypacer.h"

#include <algorithm>
#include <cmath>

void ReplayPacer::Start(int64_t nowMonoUs, double speed) {
    speed_ = speed;
    paused_ = false;
    anchorMonoUs_ = nowMonoUs;
    anchorPositionUs_ = 0;
    played_ = 0;
}

void ReplayPacer::Anchor(int64_t nowMonoUs) {
    anchorPositionUs_ = PositionUs(nowMonoUs);
    anchorMonoUs_ = nowMonoUs;
}

void ReplayPacer::SetSpeed(int64_t nowMonoUs, double speed) {
    Anchor(nowMonoUs);
    speed_ = speed;
}

void ReplayPacer::Pause(int64_t nowMonoUs) {
    if (!paused_) {
        Anchor(nowMonoUs);
        paused_ = true;
    }
}

void ReplayPacer::Resume(int64_t nowMonoUs) {
    if (paused_) {
        anchorMonoUs_ = nowMonoUs;
        paused_ = false;
    }
}

void ReplayPacer::Played(uint64_t timeUs) {
    played_ = std::max(played_, timeUs);
}

uint64_t ReplayPacer::PositionUs(int64_t nowMonoUs) const {
    if (speed_ <= kAsFastAsPossible) {
        return std::max(anchorPositionUs_, played_);
    }
    if (paused_ || nowMonoUs <= anchorMonoUs_) {
        return std::max(anchorPositionUs_, played_);
    }
    const double elapsed = static_cast<double>(nowMonoUs - anchorMonoUs_) * speed_;
    return std::max(anchorPositionUs_ + static_cast<uint64_t>(elapsed), played_);
}

bool ReplayPacer::Due(uint64_t timeUs, int64_t nowMonoUs) const {
    return WaitUs(timeUs, nowMonoUs) == 0;
}

int64_t ReplayPacer::WaitUs(uint64_t timeUs, int64_t nowMonoUs) const {
    if (paused_) {
        return -1;
    }
    if (speed_ <= kAsFastAsPossible) {
        return 0;
    }
    const uint64_t position = PositionUs(nowMonoUs);
    if (timeUs <= position) {
        return 0;
    }
    return static_cast<int64_t>(std::ceil(static_cast<double>(timeUs - position) / speed_));
}
