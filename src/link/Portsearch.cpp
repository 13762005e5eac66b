#include "link/Portsearch.h"

#include "link/Linefactory.h"

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
    // goes on with the next device. No tick judges meanwhile (the host may show a modal note,
    // or keep its window live while a line opens).
    searching_ = false;
    while (!OpenCurrent()) {
        if (!RatesSearchable() && deviceFixed_) {
            Stop();
            return;
        }
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

bool PortSearch::RatesSearchable() {
    return rateFixed_ || MakeLine(devices_[static_cast<size_t>(deviceIndex_)])->CanChangeRate();
}

bool PortSearch::OpenCurrent() {
    const std::string& device = devices_[static_cast<size_t>(deviceIndex_)];
    // The line is asked before anything is opened: a line of fixed rate cannot be searched
    // over rates.
    if (!RatesSearchable()) {
        host_.CandidateRateRefused(device, MakeLine(device)->RateRefusal());
        return false;
    }
    if (!host_.OpenCandidate(device, rates_[static_cast<size_t>(rateIndex_)])) {
        host_.CandidateOpenFailed(device);
        return false;
    }
    return true;
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
