#include "support/PtyPair.h"

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <stdexcept>

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

PtyPair::PtyPair() {
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    slavePath_ = name;
    // Raw on both sides, so bytes pass unchanged whichever way they go.
    termios settings{};
    tcgetattr(slave_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave_, TCSANOW, &settings);
}

PtyPair::~PtyPair() {
    CloseFarEnd();
    close(slave_);
}

void PtyPair::SendFromFarEnd(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("write to the master failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::ReceiveAtFarEnd(size_t count, int waitMs) const {
    std::vector<uint8_t> bytes;
    const int64_t end = NowMs() + waitMs;
    while (bytes.size() < count) {
        const int64_t left = end - NowMs();
        pollfd p{master_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        uint8_t chunk[4096];
        const ssize_t n = read(master_, chunk, sizeof(chunk));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

bool PtyPair::WaitForPendingInput(int count, int waitMs) const {
    const int64_t end = NowMs() + waitMs;
    for (;;) {
        int pending = 0;
        ioctl(slave_, FIONREAD, &pending);
        if (pending >= count) {
            return true;
        }
        if (NowMs() >= end) {
            return false;
        }
        usleep(1000);  // the kernel moves the bytes over shortly; check again in a moment
    }
}

void PtyPair::CloseFarEnd() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}
