#include "link/Reconnection.h"

bool Reconnection::Begin(const Line& line, uint32_t baud) {
    active_ = line.IsRemote();
    if (!active_) {
        return false;
    }
    name_ = line.Name();
    where_ = line.Where();
    baud_ = baud;
    lostMs_ = clock_.MonotonicMs();
    triedMs_ = lostMs_;  // the server that just went away is given a moment first
    return true;
}

bool Reconnection::TryDue() {
    const int64_t now = clock_.MonotonicMs();
    if (!active_ || now - triedMs_ < kTryEveryMs) {
        return false;
    }
    triedMs_ = now;
    return true;
}
