#pragma once
// A clock that moves only when told to: tests run minutes of waiting in no time. Thread-safe,
// so that a load running on the loading window's worker thread may sleep on it while the test
// reads it.
#include <atomic>
#include <cstdint>

#include "base/Clock.h"

namespace testsupport {

class FakeClock final : public Clock {
  public:
    int64_t NowSeconds() override { return ms_.load() / 1000; }
    int64_t MonotonicMs() override { return ms_.load(); }
    void SleepMs(int64_t ms) override { ms_.fetch_add(ms > 0 ? ms : 0); }
    void AdvanceSeconds(int64_t s) { ms_.fetch_add(s * 1000); }

  private:
    std::atomic<int64_t> ms_{1'700'000'000'000};
};

// Real time run `factor` times faster: waits keep their order against another thread or
// process that lives in real time (a simulated receiver), but a two-second hold takes a tenth
// of that at a factor of 10.
class FastClock final : public Clock {
  public:
    explicit FastClock(int64_t factor) : factor_(factor), startMs_(real_.MonotonicMs()) {}
    int64_t NowSeconds() override { return MonotonicMs() / 1000; }
    int64_t MonotonicMs() override { return (real_.MonotonicMs() - startMs_) * factor_; }
    void SleepMs(int64_t ms) override { real_.SleepMs((ms + factor_ - 1) / factor_); }

  private:
    SystemClock real_;
    int64_t factor_;
    int64_t startMs_;
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
