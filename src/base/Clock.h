#pragma once
// The one seam through which the program reads time and waits. Production code uses the
// system clock; tests install a fake so that a two-minute wait runs in milliseconds.
#include <cstdint>

class Clock {
  public:
    virtual ~Clock() = default;
    // Wall-clock calendar time in whole seconds, as time() gives it.
    virtual int64_t NowSeconds() = 0;
    // Monotonic milliseconds from an arbitrary origin.
    virtual int64_t MonotonicMs() = 0;
    // Monotonic microseconds from the same origin, for time stamps finer than a millisecond
    // (a recording's chunks). A clock without them gives its milliseconds scaled.
    virtual int64_t MonotonicUs() { return MonotonicMs() * 1000; }
    // Sleeps (or, for a fake clock, advances time) by the given milliseconds.
    virtual void SleepMs(int64_t ms) = 0;
};

class SystemClock final : public Clock {
  public:
    int64_t NowSeconds() override;
    int64_t MonotonicMs() override;
    int64_t MonotonicUs() override;
    void SleepMs(int64_t ms) override;
};

// The clock in use. Never null: the system clock unless a test installed another.
Clock& CurrentClock();
// Installs a clock (nullptr restores the system clock). Returns the previous one.
Clock* InstallClock(Clock* clock);
