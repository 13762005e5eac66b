#include "link/Portsearch.h"

void PortSearch::Start(std::vector<std::string> devices, std::vector<uint32_t> rates, bool deviceFixed,
                       bool rateFixed, int deviceIndex, int rateIndex) {
    devices_ = std::move(devices);
    rates_ = std::move(rates);
    deviceFixed_ = deviceFixed;
    rateFixed_ = rateFixed;
    deviceIndex_ = deviceIndex;
    rateIndex_ = rateIndex;
    TryCandidate();
}

void PortSearch::TryCandidate() {
    const bool valid = deviceIndex_ >= 0 && deviceIndex_ < static_cast<int>(devices_.size()) &&
                       rateIndex_ >= 0 && rateIndex_ < static_cast<int>(rates_.size());
    if (!valid) {
        return;
    }
    // A device that cannot be opened fails at every rate: it is reported once and the search
    // goes on with the next device. No tick judges meanwhile (the host may show a modal note).
    while (!host_.OpenCandidate(devices_[static_cast<size_t>(deviceIndex_)],
                                rates_[static_cast<size_t>(rateIndex_)])) {
        searching_ = false;
        host_.CandidateOpenFailed(devices_[static_cast<size_t>(deviceIndex_)]);
        if (!AdvanceDevice()) {
            GiveUp();
            return;
        }
    }
    host_.CandidateOpened(deviceIndex_, rateIndex_);
    host_.SendProbe();
    searching_ = true;
    savedMessageCount_ = host_.MessageCount();
    probeTime_ = clock_.NowSeconds();
}

void PortSearch::Tick() {
    if (!searching_ || clock_.NowSeconds() - probeTime_ < kProbeWaitSeconds) {
        return;
    }
    if (host_.MessageCount() != savedMessageCount_ && host_.LastMessageId() != kRejectedId) {
        Stop();
        host_.ReceiverFound(rateIndex_);
        return;
    }
    if (rateFixed_) {
        NextDevice();
    } else {
        NextRateOrDevice();
    }
}

void PortSearch::NextRateOrDevice() {
    ++rateIndex_;
    if (rateIndex_ < static_cast<int>(rates_.size())) {
        TryCandidate();
        return;
    }
    rateIndex_ = 0;
    NextDevice();
}

void PortSearch::NextDevice() {
    if (AdvanceDevice()) {
        TryCandidate();
    } else {
        GiveUp();
    }
}

bool PortSearch::AdvanceDevice() {
    if (deviceFixed_ || deviceIndex_ + 1 >= static_cast<int>(devices_.size())) {
        return false;
    }
    ++deviceIndex_;
    if (!rateFixed_) {
        rateIndex_ = 0;
    }
    return true;
}

void PortSearch::GiveUp() {
    Stop();
    host_.ReceiverNotFound();
}

void PortSearch::Stop() {
    searching_ = false;
    host_.SearchStopped();
}
