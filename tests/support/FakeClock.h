#pragma once
// A clock that moves only when told to: tests run minutes of waiting in no time.
#include <cstdint>

#include "base/Clock.h"

namespace testsupport {

class FakeClock final : public Clock {
  public:
    int64_t NowSeconds() override { return ms_ / 1000; }
    int64_t MonotonicMs() override { return ms_; }
    void SleepMs(int64_t ms) override { ms_ += ms > 0 ? ms : 0; }
    void AdvanceSeconds(int64_t s) { ms_ += s * 1000; }

  private:
    int64_t ms_ = 1'700'000'000'000;
};

// Installs a clock for the lifetime of the object.
class ScopedClock {
  public:
    explicit ScopedClock(Clock& clock) : previous_(InstallClock(&clock)) {}
    ~ScopedClock() { InstallClock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    Clock* previous_;
};

}  // namespace testsupport
