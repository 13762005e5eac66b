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
    // A candidate that cannot be opened sends no probe: the search state stays as it was,
    // so the next tick judges this candidate failed and moves on.
    if (!valid || !host_.OpenCandidate(devices_[deviceIndex_], rates_[rateIndex_])) {
        return;
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
    if (!deviceFixed_) {
        ++deviceIndex_;
        if (deviceIndex_ < static_cast<int>(devices_.size())) {
            TryCandidate();
            return;
        }
    }
    Stop();
    host_.ReceiverNotFound();
}

void PortSearch::Stop() {
    searching_ = false;
    host_.SearchStopped();
}
