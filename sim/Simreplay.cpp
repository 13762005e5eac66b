#include "sim/Simreplay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Clock.h"
#include "record/Recordingfile.h"
#include "record/Replaypacer.h"
#include "sim/Simline.h"

namespace {
constexpr int64_t kIdleWaitUs = 200'000;  // while the device is closed or the replay is over

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
}  // namespace

SimReplay::SimReplay(std::string path, uint32_t plainBaud) : path_(std::move(path)), plainBaud_(plainBaud) {}

SimReplay::~SimReplay() {
    Stop();
}

bool SimReplay::Start() {
    const RecordingSummary summary = SummarizeRecording(path_, plainBaud_);
    if (!summary.readable) {
        lastError_ = path_ + ": " + summary.problem;
        return false;
    }
    plain_ = summary.plain;
    baud_ = summary.header.baud != 0 ? summary.header.baud : plainBaud_;
    char name[256] = {};
    int slaveFd = -1;
    if (openpty(&masterFd_, &slaveFd, name, nullptr, nullptr) != 0) {
        lastError_ = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    // Raw at the recording's rate; the slave is closed again so that the master shows (by a
    // hang-up) whether the program has the device open.
    const bool raw = SetRawLine(slaveFd, SpeedForBaud(baud_) != B0 ? baud_ : 19200);
    ::close(slaveFd);
    if (!raw || pipe(wakePipe_) != 0) {
        lastError_ = "cannot set up the pseudo-terminal";
        CloseFd(masterFd_);
        return false;
    }
    fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    devicePath_ = name;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimReplay::Stop() {
    stop_ = true;
    if (wakePipe_[1] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], "x", 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    CloseFd(masterFd_);
    CloseFd(wakePipe_[0]);
    CloseFd(wakePipe_[1]);
}

std::string SimReplay::Problem() const {
    return finished_ ? problem_ : std::string();
}

bool SimReplay::Wait(int64_t waitUs) {
    pollfd fds[2] = {{wakePipe_[0], POLLIN, 0}, {masterFd_, POLLIN, 0}};
    const int waitMs = static_cast<int>(std::clamp<int64_t>((waitUs + 999) / 1000, 0, 1000));
    poll(fds, 2, waitMs);
    if ((fds[1].revents & POLLIN) != 0) {
        uint8_t dropped[256];
        while (::read(masterFd_, dropped, sizeof dropped) > 0) {
        }
    }
    return (fds[1].revents & POLLHUP) == 0;
}

bool SimReplay::WriteAll(const uint8_t* data, size_t size) {
    while (size > 0 && !stop_) {
        const ssize_t n = ::write(masterFd_, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            // The program is not reading: the line waits for it, as a full buffer would.
            pollfd fds[2] = {{wakePipe_[0], POLLIN, 0}, {masterFd_, POLLOUT, 0}};
            poll(fds, 2, 100);
        }
    }
    return true;
}

void SimReplay::Run() {
    InputFile file(path_);
    FileSource source(file.Get());
    RecordingReader reader(source, plainBaud_);
    ReplayPacer pacer;
    Clock& clock = CurrentClock();
    bool open = false;
    while (!stop_ && !open) {
        open = Wait(kIdleWaitUs);
    }
    pacer.Start(clock.MonotonicUs());
    RecordingChunk chunk;
    bool more = reader.Start() && reader.Next(chunk);
    while (!stop_ && more) {
        const int64_t now = clock.MonotonicUs();
        if (!open) {
            pacer.Pause(now);
        } else {
            pacer.Resume(now);
        }
        const int64_t waitUs = pacer.WaitUs(chunk.timeUs, now);
        if (waitUs == 0) {
            if (!WriteAll(chunk.data, chunk.size)) {
                break;
            }
            more = reader.Next(chunk);
            continue;
        }
        open = Wait(waitUs < 0 ? kIdleWaitUs : waitUs);
    }
    problem_ = reader.Problem();
    finished_ = true;
    while (!stop_) {
        Wait(kIdleWaitUs);
    }
}
