#include "base/Clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

int64_t SystemClock::NowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

int64_t SystemClock::MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t SystemClock::MonotonicUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::SleepMs(int64_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

namespace {
SystemClock systemClock;
// Read by every thread that waits (a load runs on a thread of its own); installed by tests
// while no such thread runs.
std::atomic<Clock*> installedClock{nullptr};
}  // namespace

Clock& CurrentClock() {
    Clock* installed = installedClock.load();
    return installed != nullptr ? *installed : systemClock;
}

Clock* InstallClock(Clock* clock) {
    return installedClock.exchange(clock);
}
