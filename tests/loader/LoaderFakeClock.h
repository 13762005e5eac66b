#pragma once
// A clock that moves only when told: sleeping advances it at once. Thread-safe, so that a
// scripted peer on another thread can read the same time.
#include <atomic>
#include <cstdint>

#include "base/Clock.h"

class LoaderFakeClock final : public Clock {
  public:
    static constexpr int64_t kStartSeconds = 1'700'000'000;

    int64_t NowSeconds() override { return kStartSeconds + ms_.load() / 1000; }
    int64_t MonotonicMs() override { return ms_.load(); }
    void SleepMs(int64_t ms) override { Advance(ms); }
    void Advance(int64_t ms) {
        if (ms > 0) {
            ms_.fetch_add(ms);
        }
    }

  private:
    std::atomic<int64_t> ms_{0};
};

// Installs a clock for the lifetime of the guard.
class ScopedClock {
  public:
    explicit ScopedClock(Clock* clock) : previous_(InstallClock(clock)) {}
    ~ScopedClock() { InstallClock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    Clock* previous_;
};
