#include "BootPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "proto/Bytes.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {

speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

uint32_t BaudOf(speed_t speed) {
    switch (speed) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        default:
            return 0;
    }
}

void MakeRaw(int fd, uint32_t baud) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, SpeedOf(baud));
    cfsetospeed(&t, SpeedOf(baud));
    tcsetattr(fd, TCSANOW, &t);
}

std::vector<uint8_t> ConfigFrame() {
    uint8_t payload[config::kPayloadSize] = {};
    payload[config::kVersionMajor] = 2;
    payload[config::kVersionMinor] = 5;
    const uint8_t suffix[config::kVersionSuffixSize] = {'a', 'b', 'c'};
    std::memcpy(payload + config::kVersionSuffix, suffix, sizeof suffix);
    std::vector<uint8_t> frame(config::kFrameLength);
    build_frame(msgid::kConfig, payload, config::kPayloadSize, frame.data());
    return frame;
}

std::vector<uint8_t> ReplyFrame(const PeerReply& reply) {
    std::vector<uint8_t> payload(x1f::kPayloadSize, 0);
    payload[x1f::kCode] = reply.code;
    put_le32(payload.data() + x1f::kValue, reply.value);
    payload.resize(reply.payloadBytes);
    std::vector<uint8_t> frame(payload.size() + frame::kOverhead);
    build_frame(msgid::kBootloader, payload.data(), static_cast<uint16_t>(payload.size()), frame.data());
    return frame;
}

}  // namespace

BootPeer::BootPeer(LoaderFakeClock& clock) : clock_(clock) {
    char name[128] = {};
    if (openpty(&master_, &keeper_, name, nullptr, nullptr) != 0) {
        return;
    }
    slavePath_ = name;
    MakeRaw(keeper_, 19200);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

BootPeer::~BootPeer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (master_ >= 0) {
        close(master_);
    }
    if (keeper_ >= 0) {
        close(keeper_);
    }
}

void BootPeer::SetScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

void BootPeer::EnterBootloader() {
    std::lock_guard lock(mutex_);
    application_ = false;
    rate_ = 19200;
}

void BootPeer::SendRaw(const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    SendLocked(bytes);
}

bool BootPeer::Took(uint64_t writtenByPort) {
    std::lock_guard lock(mutex_);
    return vanished_ || processed_ >= writtenByPort;
}

bool BootPeer::Quiet(uint64_t writtenByPort, uint64_t readByPort) {
    std::lock_guard lock(mutex_);
    if (vanished_) {
        return true;
    }
    if (processed_ < writtenByPort || readByPort < sent_) {
        return false;
    }
    const int64_t now = clock_.MonotonicMs();
    return std::none_of(pending_.begin(), pending_.end(), [now](const auto& p) { return p.first <= now; });
}

std::map<uint32_t, uint8_t> BootPeer::Image() {
    std::lock_guard lock(mutex_);
    return image_;
}

std::vector<PeerCommand> BootPeer::Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::pair<uint32_t, std::vector<uint8_t>>> BootPeer::Blocks() {
    std::lock_guard lock(mutex_);
    return blocks_;
}

int BootPeer::Downloads() {
    std::lock_guard lock(mutex_);
    return downloads_;
}

uint32_t BootPeer::Rate() {
    std::lock_guard lock(mutex_);
    return rate_;
}

void BootPeer::Run() {
    uint8_t bytes[4096];
    while (!stop_) {
        {
            std::lock_guard lock(mutex_);
            if (vanished_) {
                return;
            }
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, 1);
        const ssize_t n = read(master_, bytes, sizeof bytes);
        std::lock_guard lock(mutex_);
        if (n > 0) {
            HandleBytes(bytes, static_cast<size_t>(n));
        }
        if (!vanished_) {
            SendDue();
        }
    }
}

void BootPeer::HandleBytes(const uint8_t* bytes, size_t n) {
    // Bytes sent at another rate than the bootloader's arrive as garbage: drop them.
    if (SlaveRate() == rate_) {
        for (size_t i = 0; i < n && !vanished_; ++i) {
            if (diag_frame_step(bytes[i], parser_, frame_, sizeof frame_) == kDiagFrame) {
                HandleFrame();
            }
        }
    } else {
        parser_ = DiagFrameState{};
    }
    processed_ += n;
}

void BootPeer::HandleFrame() {
    const uint8_t id = frame_[frame::kIdOffset];
    const uint8_t* payload = frame_ + frame::kPayloadOffset;
    if (id == msgid::kRequest && payload[request::kRequestedId] == msgid::kConfig && application_) {
        ++versionRequests_;
        if (versionFrom_ > 0 && versionRequests_ >= versionFrom_) {
            SendLocked(ConfigFrame());
        }
        return;
    }
    X1fPayload command;
    if (id == msgid::kBootloader && !application_ &&
        x1f_decode_payload(payload, parser_.total - frame::kOverhead, command)) {
        HandleCommand(command, payload + x1f::kData);
    }
}

void BootPeer::HandleCommand(const X1fPayload& command, const uint8_t* data) {
    const PeerCommand c{command.code, command.value, command.dataLength, ++counts_[command.code]};
    commands_.push_back(c);
    if (command.code == X1F_LOAD && c.nth == vanishAtBlock_) {
        close(master_);
        close(keeper_);
        master_ = -1;
        keeper_ = -1;
        vanished_ = true;
        return;
    }
    if (command.code == X1F_SETUP) {
        image_.clear();
        blocks_.clear();
        ++downloads_;
    } else if (command.code == X1F_LOAD) {
        const uint16_t length = std::min<uint16_t>(command.dataLength, x1f::kDataSize);
        blocks_.push_back({command.value, std::vector<uint8_t>(data, data + length)});
        for (uint16_t i = 0; i < length; ++i) {
            image_[command.value + i] = data[i];
        }
    }
    std::optional<PeerAnswer> answer = script_ ? script_(c) : std::nullopt;
    Queue(answer ? *answer : DefaultAnswer(c));
    if (command.code == X1F_SETBAUD && !keepBaud_) {
        rate_ = command.value;
    } else if (command.code == X1F_CRCANY) {
        // The user cycles the power: the new software starts at the standard rate.
        application_ = true;
        rate_ = 19200;
    }
}

PeerAnswer BootPeer::DefaultAnswer(const PeerCommand& command) {
    // A reply to X1F_SETBAUD would go out at the old rate, after the PC has switched: lost.
    if (command.code == X1F_SETBAUD) {
        return {};
    }
    return {PeerReply{}};
}

void BootPeer::Queue(const PeerAnswer& answer) {
    const int64_t now = clock_.MonotonicMs();
    for (const auto& reply : answer) {
        std::vector<uint8_t> bytes;
        if (noisy_) {
            const std::string sentence = "$GPGGA,1,2,3*7F\r\n";
            bytes.assign(sentence.begin(), sentence.end());
            const uint8_t other[4] = {1, 2, 3, 4};
            std::vector<uint8_t> frame(12);
            build_frame(218, other, 4, frame.data());
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
        const std::vector<uint8_t> frame = ReplyFrame(reply);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        pending_.push_back({now + reply.delayMs, bytes});
    }
    SendDue();
}

void BootPeer::SendDue() {
    const int64_t now = clock_.MonotonicMs();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->first <= now) {
            SendLocked(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

void BootPeer::SendLocked(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    for (int tries = 0; done < bytes.size() && master_ >= 0 && tries < 1000; ++tries) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 5);
        }
    }
    sent_ += done;
}

uint32_t BootPeer::SlaveRate() {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) {
        return 0;
    }
    return BaudOf(cfgetospeed(&t));
}

// Like a serial port that drains its output before closing: what was written goes out at the
// rate it was written at.
void PtyPort::Close() {
    if (serial_.IsOpen()) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!peer_.Took(written_) && std::chrono::steady_clock::now() < limit) {
            usleep(500);
        }
    }
    serial_.Close();
}

bool PtyPort::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    *received = 0;
    const auto realLimit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int32_t realWaitMs = 0;; realWaitMs = 2) {
        // Asked before reading: a quiet link that then reads nothing stays quiet.
        const bool quiet = peer_.Quiet(written_, read_);
        if (!serial_.Read(buffer, capacity, received, realWaitMs) &&
            !IsReadTimeoutCode(serial_.LastErrorCode())) {
            return false;
        }
        if (*received > 0) {
            read_ += *received;
            return true;
        }
        // A stuck peer must not hang the test: let time run on after a long real wait.
        if (quiet || std::chrono::steady_clock::now() > realLimit) {
            clock_.Advance(waitMs);
            return true;
        }
    }
}

bool PtyPort::Write(const uint8_t* buffer, uint32_t count) {
    uint32_t written = 0;
    const bool ok = serial_.Write(buffer, count, &written);
    written_ += written;
    return ok;
}
