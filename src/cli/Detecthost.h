#pragma once
// The port search of lctrovi detect: a candidate is opened, probed and judged by the messages
// the receive loop counts, as the port dialog does.
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "link/Anyline.h"
#include "link/Portsearch.h"
#include "link/Receivepath.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "proto/Sentences.h"

constexpr int32_t kReceiveTickMs = 100;  // the main window's receive timer

// What the search needs, over the command's session: a candidate is opened, probed and
// judged by the messages the receive loop counts.
class DetectHost final : public PortSearchHost {
  public:
    // `announce`: say on standard error which candidate is tried ("Attempting ...").
    DetectHost(std::vector<std::string> devices, std::vector<uint32_t> rates, bool announce = true)
        : devices_(std::move(devices)), rates_(std::move(rates)), announce_(announce) {}

    bool OpenCandidate(const std::string& device, uint32_t rate) override {
        port_.Close();
        port_.SetBlocking(true);  // reads wait at most one receive tick
        if (!port_.Open(device, rate, 0)) {
            return false;
        }
        port_.Purge();
        return true;
    }
    void CandidateOpenFailed(const std::string& device) override {
        std::fprintf(stderr, "Error opening device %s: %s\n", device.c_str(), port_.LastErrorText().c_str());
    }
    void CandidateRateRefused(const std::string& /*device*/, const std::string& refusal) override {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        rateRefused_ = true;
    }
    void CandidateOpened(int deviceIndex, int rateIndex) override {
        deviceIndex_ = deviceIndex;
        if (!announce_) {
            return;
        }
        const std::string& device = devices_[static_cast<size_t>(deviceIndex)];
        if (port_.CanChangeRate()) {
            std::fprintf(stderr, "Attempting %s at %u\n", device.c_str(),
                         rates_[static_cast<size_t>(rateIndex)]);
        } else {
            std::fprintf(stderr, "Attempting %s at %s\n", device.c_str(), kServersRate);
        }
    }
    void SendProbe() override {
        uint8_t frame[request::kFrameLength];
        const uint16_t length = build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
        port_.Write(frame, length);
    }
    int32_t MessageCount() override { return messageCount_; }
    int32_t LastMessageId() override { return lastMessageId_; }
    void SearchStopped() override {}
    void ReceiverFound(int rateIndex) override { found_ = rateIndex; }
    void ReceiverNotFound() override {}

    // One tick of the receive loop: what arrived is counted as the main window counts it.
    void Receive(int32_t waitMs) {
        if (!port_.IsOpen()) {
            CurrentClock().SleepMs(waitMs);
            return;
        }
        receive_.Pump(
            port_, waitMs,
            [this](const DiagProto& diag) {
                ++messageCount_;
                lastMessageId_ = diag.MessageData()[frame::kIdOffset];
            },
            [this](const CRLFProto& crlf) {
                if (IsShownSentence(crlf.MessageData(), crlf.MessageLength())) {
                    ++messageCount_;
                }
            });
    }

    std::optional<int> Found() const { return found_; }
    const std::string& FoundDevice() const { return devices_[static_cast<size_t>(deviceIndex_)]; }
    // True when the receiver was found on a line whose rate is its server's, not the one tried.
    bool FoundAtFixedRate() const { return !port_.CanChangeRate(); }
    // True when a search over rates was refused for a line of fixed rate (and said so).
    bool RateRefused() const { return rateRefused_; }

  private:
    std::vector<std::string> devices_;
    std::vector<uint32_t> rates_;
    bool announce_;
    AnyLine port_;
    ReceivePath receive_;
    bool rateRefused_ = false;
    int32_t messageCount_ = 0;
    int32_t lastMessageId_ = 0;
    int deviceIndex_ = 0;
    std::optional<int> found_;
};
