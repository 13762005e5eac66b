#pragma once
// The automatic port search: try candidate devices and baud rates one after another; for
// each, open the port, send a probe, and after about two seconds judge whether the receiver
// answered. The port dialog and the command-line tool drive it; the clock is the seam's.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "proto/Linerates.h"

// What the search needs from its surroundings.
class PortSearchHost {
  public:
    virtual ~PortSearchHost() = default;
    // Closes the port and opens it at the candidate, returning reads at once and with both
    // queues purged. False when the device cannot be opened.
    virtual bool OpenCandidate(const std::string& device, uint32_t rate) = 0;
    // The device could not be opened: say so ("Error opening device " + name). The search
    // then goes on with the next device.
    virtual void CandidateOpenFailed(const std::string& device) = 0;
    // A search over rates met a device whose line cannot change its rate: say so with the
    // line's `refusal`. Nothing was opened or sent. A search of that device alone ends here
    // (stopped, not exhausted); otherwise it goes on with the next device.
    virtual void CandidateRateRefused(const std::string& device, const std::string& refusal) = 0;
    // The candidate is open: record it as the link's port and show that it is being tried.
    virtual void CandidateOpened(int deviceIndex, int rateIndex) = 0;
    // Writes the probe (the request for the configuration message).
    virtual void SendProbe() = 0;
    // Messages received so far, and the id of the last binary frame.
    virtual int32_t MessageCount() = 0;
    virtual int32_t LastMessageId() = 0;
    // The search ended: stopped (any reason), found at the rate index, or exhausted (also
    // when no candidate could be opened at all).
    virtual void SearchStopped() = 0;
    virtual void ReceiverFound(int rateIndex) = 0;
    virtual void ReceiverNotFound() = 0;
};

// The rates the search offers and tries, in trial order; a fixed rate starts at 19200.
inline constexpr const std::array<uint32_t, 4>& kSearchRates = kReceiverRates;
inline constexpr int kSearchStartRateIndex = static_cast<int>(kLineRateIndex19200);

class PortSearch {
  public:
    static constexpr int64_t kProbeWaitSeconds = 2;
    static constexpr int32_t kRejectedId = 255;

    PortSearch(PortSearchHost& host, Clock& clock) : host_(host), clock_(clock) {}

    // Starts from the given indices. A fixed device (or rate) is tried alone; otherwise
    // every device (every rate) is tried in list order from the index given.
    void Start(std::vector<std::string> devices, std::vector<uint32_t> rates, bool deviceFixed,
               bool rateFixed, int deviceIndex, int rateIndex);
    // Advances the search; called once per receive tick.
    void Tick();
    // Ends the search without a verdict (the wait window's Cancel).
    void Stop();

    bool Searching() const { return searching_; }
    int DeviceIndex() const { return deviceIndex_; }
    int RateIndex() const { return rateIndex_; }

  private:
    void TryCandidate();
    // Opens the current candidate; false (said to the host) when it cannot be opened or its
    // rate cannot be searched.
    bool OpenCurrent();
    // True when the search over rates may use the current device's line.
    bool RatesSearchable();
    void NextRateOrDevice();
    void NextDevice();
    // Moves to the next device (at the first rate unless the rate is fixed); false when none
    // is left.
    bool AdvanceDevice();
    void GiveUp();

    PortSearchHost& host_;
    Clock& clock_;
    std::vector<std::string> devices_;
    std::vector<uint32_t> rates_;
    bool deviceFixed_ = false;
    bool rateFixed_ = false;
    int deviceIndex_ = 0;
    int rateIndex_ = 0;
    int64_t probeTime_ = 0;
    bool searching_ = false;
    int32_t savedMessageCount_ = 0;
};
