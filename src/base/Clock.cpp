#include "base/Clock.h"

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

void SystemClock::SleepMs(int64_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

namespace {
SystemClock systemClock;
Clock* installedClock = nullptr;
}  // namespace

Clock& CurrentClock() {
    return installedClock != nullptr ? *installedClock : systemClock;
}

Clock* InstallClock(Clock* clock) {
    Clock* previous = installedClock;
    installedClock = clock;
    return previous;
}
