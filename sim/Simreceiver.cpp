#include "sim/Simreceiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h>
#else
#include <util.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "sim/Simimagefile.h"
#include "sim/Simline.h"

namespace {

constexpr int kMaxPollMs = 50;
constexpr size_t kReadSize = 1024;
constexpr double kChunkSeconds = 0.01;  // the line is paced in slices of this much wire time

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// A byte that a receiver at the wrong rate makes of the line. Never a frame's first sync
// byte or a sentence's "$", so a mismatched rate can never yield a frame or a sentence.
uint8_t GarbageByte(SimRandom& random) {
    auto byte = static_cast<uint8_t>(random.Next() >> 56);
    if (byte == frame::kSync1 || byte == '$') {
        byte = 0xFF;
    }
    return byte;
}

}  // namespace

SimReceiver::SimReceiver(SimOptions options)
    : options_(std::move(options)),
      model_(std::make_unique<ReceiverModel>(options_, 0)),
      random_(options_.randomStart) {}

SimReceiver::~SimReceiver() {
    Stop();
}

bool SimReceiver::Start() {
    if (thread_.joinable()) {
        return true;
    }
    serveDevice_ = !options_.devicePath.empty();
    if (!(serveDevice_ ? OpenDevice() : OpenPty())) {
        return false;
    }
    if (pipe(wakePipe_) != 0) {
        lastError_ = std::string("pipe: ") + std::strerror(errno);
        CloseLine();
        return false;
    }
    SetNonBlocking(wakePipe_[0]);
    SetNonBlocking(wakePipe_[1]);
    if (!options_.recordPath.empty()) {
        recordFile_.open(options_.recordPath, std::ios::out | std::ios::trunc);
    }
    startMs_ = NowMs();
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool SimReceiver::OpenPty() {
    char name[256] = {};
    if (openpty(&masterFd_, &slaveFd_, name, nullptr, nullptr) != 0) {
        lastError_ = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    // Raw from the start, so that a plain `cat` of the device shows the sentences as sent
    // and nothing is echoed back to the receiver.
    if (!SetRawLine(slaveFd_, options_.settings.baudRate)) {
        lastError_ = "cannot set the pseudo-terminal to the receiver's rate";
        CloseLine();
        return false;
    }
    SetNonBlocking(masterFd_);
    fcntl(slaveFd_, F_SETFD, FD_CLOEXEC);
    devicePath_ = name;
    return true;
}

bool SimReceiver::OpenDevice() {
    masterFd_ = ::open(options_.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (masterFd_ < 0) {
        lastError_ = options_.devicePath + ": " + std::strerror(errno);
        return false;
    }
    if (!SetRawLine(masterFd_, options_.settings.baudRate)) {
        lastError_ = options_.devicePath + ": cannot set the line to the receiver's rate";
        CloseLine();
        return false;
    }
    devicePath_ = options_.devicePath;
    return true;
}

void SimReceiver::Stop() {
    stop_ = true;
    Wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    CloseLine();
    CloseFd(wakePipe_[0]);
    CloseFd(wakePipe_[1]);
}

void SimReceiver::CloseLine() {
    CloseFd(masterFd_);
    CloseFd(slaveFd_);
}

void SimReceiver::Wake() {
    if (wakePipe_[1] >= 0) {
        const uint8_t byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
    }
}

int64_t SimReceiver::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() - startMs_;
}

// The rate the program's side is set to: tcgetattr on the master shows the slave's settings.
// A served device has one rate for both sides, so there is nothing to compare.
uint32_t SimReceiver::PeerBaud() const {
    const uint32_t own = model_->LineBaud();
    if (serveDevice_ || masterFd_ < 0) {
        return own;
    }
    termios tio{};
    if (tcgetattr(masterFd_, &tio) != 0) {
        return own;
    }
    return BaudForSpeed(cfgetospeed(&tio));
}

void SimReceiver::Run() {
    std::vector<SimOutgoing> pending;
    while (!stop_) {
        int timeoutMs = kMaxPollMs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const int64_t now = NowMs();
            if (powerCycleRequested_) {
                powerCycleRequested_ = false;
                model_->PowerCycle(now);
                framer_.Reset();
                delayedBaud_ = 0;  // the power-up rate holds
            }
            if (vanishRequested_) {
                break;
            }
            SwitchBaudWhenDue(now);
            int64_t untilNext = model_->NextEventMs() - now;
            if (delayedBaud_ != 0) {
                untilNext = std::min(untilNext, delayedBaudAtMs_ - now);
            }
            timeoutMs = static_cast<int>(std::clamp<int64_t>(untilNext, 0, kMaxPollMs));
        }
        pollfd fds[2] = {{masterFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents != 0) {
            uint8_t drain[64];
            while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            ReadInput();
        } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            break;  // the served device went away
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            model_->Tick(NowMs());
            auto& output = model_->Output();
            pending.assign(std::make_move_iterator(output.begin()), std::make_move_iterator(output.end()));
            output.clear();
        }
        for (const SimOutgoing& item : pending) {
            Deliver(item);
            if (stop_ || vanished_) {
                break;
            }
        }
        if (vanished_) {
            break;
        }
    }
    if (!stop_) {
        // Left the loop without being stopped: the device vanished.
        vanished_ = true;
        CloseLine();
    }
}

void SimReceiver::ReadInput() {
    uint8_t buffer[kReadSize];
    const ssize_t n = ::read(masterFd_, buffer, sizeof buffer);
    if (n <= 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    SwitchBaudWhenDue(NowMs());
    bool damaged = false;
    const std::vector<uint8_t> input(buffer, buffer + n);
    const uint32_t sentBaud = PeerBaud();
    const uint32_t heardBaud = model_->LineBaud();
    const std::vector<uint8_t> bytes = Corrupt(input, sentBaud, heardBaud, damaged);
    const int64_t now = NowMs();
    if (sentBaud != heardBaud) {
        // Garbage to the receiver, and the likely cause of a command that got no answer.
        AddRecord({now, SimDirection::kReceived, SimKind::kBytes, input, true, sentBaud, heardBaud});
    }
    for (uint8_t byte : bytes) {
        TakeByte(byte, now);
    }
}

void SimReceiver::TakeByte(uint8_t byte, int64_t nowMs) {
    if (!framer_.ProcessByte(byte)) {
        return;
    }
    // The stored count, not the length field: a length field below 4 wraps (see DiagProto).
    const uint16_t length = framer_.State().count;
    const uint8_t* frame = framer_.MessageData();
    AddRecord({nowMs, SimDirection::kReceived, SimKind::kFrame, std::vector<uint8_t>(frame, frame + length)});
    model_->OnFrame(frame, length, nowMs);
}

// Noise and drops at the configured rates; at mismatched rates every byte turns to garbage,
// about as many bytes as the receiving side's rate makes of them.
std::vector<uint8_t> SimReceiver::Corrupt(const std::vector<uint8_t>& bytes, uint32_t fromBaud,
                                          uint32_t toBaud, bool& damaged) {
    const SimFaults& faults = model_->Faults();
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    const bool mismatch = fromBaud != toBaud;
    const double ratio = mismatch && fromBaud != 0 ? static_cast<double>(toBaud) / fromBaud : 1.0;
    double owed = 0.5;
    for (uint8_t byte : bytes) {
        if (random_.Chance(faults.dropRate)) {
            damaged = true;
            continue;
        }
        if (mismatch) {
            damaged = true;
            owed += ratio;
            const auto count = static_cast<size_t>(owed);
            owed -= static_cast<double>(count);
            for (size_t i = 0; i < count; ++i) {
                out.push_back(GarbageByte(random_));
            }
            continue;
        }
        for (int bit = 0; bit < 8; ++bit) {
            if (random_.Chance(faults.bitErrorRate)) {
                byte = static_cast<uint8_t>(byte ^ (1u << bit));
                damaged = true;
            }
        }
        out.push_back(byte);
    }
    return out;
}

void SimReceiver::Deliver(const SimOutgoing& item) {
    if (!item.bytes.empty()) {
        std::vector<uint8_t> wire;
        uint32_t baud = 0;
        size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            baud = model_->LineBaud();
            const uint32_t peerBaud = PeerBaud();
            bool damaged = false;
            wire = Corrupt(item.bytes, baud, peerBaud, damaged);
            index = record_.size();
            const bool mismatch = baud != peerBaud;
            AddRecord({NowMs(), SimDirection::kSent, item.kind, item.bytes, damaged, mismatch ? baud : 0,
                       mismatch ? peerBaud : 0});
        }
        const bool whole = WritePaced(wire, baud);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!whole && index < record_.size()) {
            record_[index].damaged = true;
        }
    }
    if (item.baudAfter != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int64_t delay = model_->Faults().rateSwitchDelayMs;
        if (delay > 0) {
            delayedBaud_ = item.baudAfter;
            delayedBaudAtMs_ = NowMs() + delay;
        } else {
            SwitchBaud(item.baudAfter);
        }
    }
    if (item.vanishAfter) {
        AwaitLineDrained();
        vanished_ = true;
        CloseLine();
    }
}

// Writes at the line rate, slice by slice, sleeping between slices. A full pty (nobody
// reading) loses the rest, as a line with nobody listening would. True when all went out.
bool SimReceiver::WritePaced(const std::vector<uint8_t>& bytes, uint32_t baud) {
    using namespace std::chrono;
    const double scale = options_.timing.timeScale;
    const double bytesPerSecond = scale > 0 ? baud / 10.0 / scale : 0.0;
    const size_t slice = bytesPerSecond > 0
                             ? std::max<size_t>(8, static_cast<size_t>(bytesPerSecond * kChunkSeconds))
                             : bytes.size();
    auto due = steady_clock::now();
    size_t offset = 0;
    while (offset < bytes.size() && !stop_) {
        const size_t count = std::min(slice, bytes.size() - offset);
        const ssize_t n = ::write(masterFd_, bytes.data() + offset, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        offset += static_cast<size_t>(n);
        if (bytesPerSecond > 0) {
            due += duration_cast<steady_clock::duration>(
                duration<double>(static_cast<double>(n) / bytesPerSecond));
            std::this_thread::sleep_until(due);
        }
    }
    return offset == bytes.size();
}

// Closing a pty's master discards what the program has not read yet. A device that vanishes
// after a reply gives the program the chance to take it first, for at most a second: until
// the queue was seen full and then empty, or stayed empty for 100 ms (the kernel moves
// written bytes into the queue a little later, so one empty look proves nothing).
void SimReceiver::AwaitLineDrained() {
    constexpr int kChecks = 200;
    constexpr int kEmptyChecksEnough = 20;
    bool seenQueued = false;
    int emptyChecks = 0;
    for (int check = 0; check < kChecks && !stop_; ++check) {
        int queued = 0;
        const int fd = serveDevice_ ? masterFd_ : slaveFd_;
        if (fd < 0 || ioctl(fd, serveDevice_ ? TIOCOUTQ : TIOCINQ, &queued) != 0) {
            return;
        }
        seenQueued = seenQueued || queued > 0;
        emptyChecks = queued > 0 ? 0 : emptyChecks + 1;
        if ((seenQueued && queued == 0) || emptyChecks >= kEmptyChecksEnough) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SimReceiver::SwitchBaud(uint32_t baud) {
    model_->SetLineBaud(baud);
    SwitchDeviceBaud(baud);
}

// A delayed rate change, once its time has come; input read before it meets the old rate.
void SimReceiver::SwitchBaudWhenDue(int64_t nowMs) {
    if (delayedBaud_ != 0 && nowMs >= delayedBaudAtMs_) {
        SwitchBaud(delayedBaud_);
        delayedBaud_ = 0;
    }
}

void SimReceiver::SwitchDeviceBaud(uint32_t baud) {
    if (serveDevice_ && masterFd_ >= 0) {
        SetRawLine(masterFd_, baud);
    }
}

void SimReceiver::AddRecord(SimRecordEntry entry) {
    if (recordFile_.is_open()) {
        recordFile_ << FormatRecordEntry(entry) << '\n';
        recordFile_.flush();
    }
    record_.push_back(std::move(entry));
}

std::string SimReceiver::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

SimSettings SimReceiver::Settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Settings();
}

SimVersion SimReceiver::Version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Version();
}

SimMode SimReceiver::Mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Mode();
}

CalPhase SimReceiver::Calibration() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Calibration();
}

uint32_t SimReceiver::LineBaud() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->LineBaud();
}

SimImage SimReceiver::RamImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Bootloader().RamImage();
}

SimImage SimReceiver::ProgrammedImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Bootloader().ProgrammedImage();
}

bool SimReceiver::WriteImage(const std::string& path) const {
    return WriteImageFile(RamImage(), path);
}

std::vector<SimRecordEntry> SimReceiver::Record() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}

void SimReceiver::ClearRecord() {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.clear();
}

void SimReceiver::PowerCycle() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        powerCycleRequested_ = true;
    }
    Wake();
}

void SimReceiver::SetFaults(const SimFaults& faults) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        model_->SetFaults(faults);
    }
    Wake();
}

SimFaults SimReceiver::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_->Faults();
}

void SimReceiver::SetVehicleMoving(bool moving) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_->SetVehicleMoving(moving);
}

void SimReceiver::Vanish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vanishRequested_ = true;
    }
    Wake();
}
