#pragma once
// Bringing back a line to a device server that was lost while the program only received: a
// new line of the same name and rate is opened every kTryEveryMs until one opens; the caller
// says how long to go on (the window: until the user closes the port; the tool: a minute).
// The time the line was away stays a gap in a recording: nothing arrives meanwhile.
#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "link/Line.h"

class Reconnection {
  public:
    static constexpr int64_t kTryEveryMs = 2000;
    static constexpr int64_t kToolGivesUpMs = 60'000;

    explicit Reconnection(Clock& clock) : clock_(clock) {}

    // Begins after `line` was lost; false, and nothing begins, for a line that cannot come
    // back (only one reached over a network can).
    bool Begin(const Line& line, uint32_t baud);
    bool Active() const { return active_; }
    void End() { active_ = false; }
    // True when a try is due now; it counts as made.
    bool TryDue();
    int64_t AwayMs() const { return clock_.MonotonicMs() - lostMs_; }

    const std::string& Name() const { return name_; }
    uint32_t Baud() const { return baud_; }
    // "Connection to HOST:PORT lost; reconnecting..." and "Connection to HOST:PORT back".
    std::string LostText() const { return "Connection to " + where_ + " lost; reconnecting..."; }
    std::string BackText() const { return "Connection to " + where_ + " back"; }

  private:
    Clock& clock_;
    bool active_ = false;
    std::string name_;
    std::string where_;
    uint32_t baud_ = 0;
    int64_t lostMs_ = 0;
    int64_t triedMs_ = 0;
};
