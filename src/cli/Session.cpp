#include "cli/Session.h"

#include <cstdio>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Receiverquery.h"
#include "link/Reconnection.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {
constexpr int32_t kReadSliceMs = 50;
constexpr uint32_t kMaxBaud = 4'000'000;
constexpr int64_t kReconnectSliceMs = 100;  // a stop is seen at least this often
constexpr int32_t kMonitorSliceMs = 100;    // the main window's receive tick
constexpr int64_t kSilenceLimitMs = 5000;
}  // namespace

int OpenSession(const CliArgs& args, Session& session) {
    const auto endpoint = ReadEndpoint(args);
    if (!endpoint) {
        return kExitUsage;
    }
    return session.Open(*endpoint) ? kExitOk : kExitFailed;
}

std::optional<Endpoint> ReadEndpoint(const CliArgs& args) {
    Endpoint endpoint;
    const auto device = args.Value("--device");
    if (!device || device->empty()) {
        std::fprintf(stderr, "lctrovi: --device is required\n");
        return std::nullopt;
    }
    endpoint.device = *device;
    if (const auto baud = args.Value("--baud")) {
        const auto rate = ParseInteger(*baud, 1, kMaxBaud);
        if (!rate) {
            std::fprintf(stderr, "lctrovi: invalid baud rate %s\n", baud->c_str());
            return std::nullopt;
        }
        endpoint.baud = static_cast<uint32_t>(*rate);
        endpoint.baudGiven = true;
    }
    return endpoint;
}

bool Session::Open(const Endpoint& endpoint) {
    device_ = endpoint.device;
    baud_ = endpoint.baud;
    port_.SetBlocking(true);
    if (!port_.Open(device_, baud_, 0)) {
        std::fprintf(stderr, "Error opening device %s: %s\n", device_.c_str(), port_.LastErrorText().c_str());
        return false;
    }
    port_.Purge();
    if (endpoint.baudGiven && !port_.CanChangeRate()) {
        std::fprintf(stderr, "%s runs at %s; --baud %u is not applied.\n", device_.c_str(), kServersRate,
                     baud_);
    }
    return true;
}

int Session::ReceiveFor(std::optional<int64_t> seconds, const std::function<bool()>& stop,
                        const std::function<void(const DiagProto&)>& onFrame,
                        const std::function<void(const CRLFProto&)>& onLine,
                        const std::function<bool()>& afterRead) {
    Clock& clock = CurrentClock();
    const int64_t start = clock.MonotonicMs();
    const auto over = [&] { return stop() || (seconds && clock.MonotonicMs() - start >= *seconds * 1000); };
    // Silence is the line's, not the display's: any byte counts, shown or not (other talkers,
    // a line without its CR LF).
    int64_t lastByte = start;
    uint64_t bytesSeen = BytesReceived();
    while (!over()) {
        if (!Pump(kMonitorSliceMs, onFrame, onLine)) {
            if (Reconnect(Reconnection::kToolGivesUpMs, over)) {
                lastByte = clock.MonotonicMs();
                continue;
            }
            std::fprintf(stderr, "Serial port lost: %s\n", port_.LastErrorText().c_str());
            return kExitFailed;
        }
        if (afterRead && !afterRead()) {
            return kExitFailed;
        }
        if (BytesReceived() != bytesSeen) {
            bytesSeen = BytesReceived();
            lastByte = clock.MonotonicMs();
        } else if (clock.MonotonicMs() - lastByte >= kSilenceLimitMs) {
            std::fprintf(stderr, "Nothing received on %s at %s for %lld seconds.\n", device_.c_str(),
                         RateText().c_str(), static_cast<long long>(kSilenceLimitMs / 1000));
            return kExitFailed;
        }
    }
    return kExitOk;
}

bool Session::Reconnect(int64_t giveUpMs, const std::function<bool()>& stop) {
    Clock& clock = CurrentClock();
    Reconnection back(clock);
    if (!back.Begin(port_, baud_)) {
        return false;
    }
    std::fprintf(stderr, "%s\n", back.LostText().c_str());
    port_.Close();
    while (back.AwayMs() < giveUpMs && !stop()) {
        if (back.TryDue() && port_.Open(device_, baud_, 0)) {
            port_.Purge();
            lost_ = false;
            std::fprintf(stderr, "%s\n", back.BackText().c_str());
            return true;
        }
        clock.SleepMs(kReconnectSliceMs);
    }
    return false;
}

std::string Session::RateText() const {
    return port_.CanChangeRate() ? std::to_string(baud_) + " baud" : kServersRate;
}

bool Session::ChangeBaud(uint32_t baud) {
    if (!port_.SetBaudRate(baud)) {
        std::fprintf(stderr, "Error changing baud rate: %s\n", port_.LastErrorText().c_str());
        return false;
    }
    baud_ = baud;
    return true;
}

bool Session::Send(const uint8_t* frame, uint16_t length) {
    if (!port_.Write(frame, length)) {
        lost_ = true;
        std::fprintf(stderr, "Serial port lost: %s\n", port_.LastErrorText().c_str());
        return false;
    }
    return true;
}

bool Session::SendRequest(uint8_t id) {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(id, request::kStandardMode, 0, frame);
    return Send(frame, length);
}

std::optional<std::vector<uint8_t>> Session::AwaitFrame(uint8_t id, int64_t waitMs) {
    std::optional<std::vector<uint8_t>> payload;
    if (!AwaitReply(port_, receive_, id, CurrentClock().MonotonicMs() + waitMs, payload)) {
        lost_ = true;
        std::fprintf(stderr, "Serial port lost: %s\n", port_.LastErrorText().c_str());
    }
    return payload;
}

std::optional<std::vector<uint8_t>> Session::Ask(uint8_t id, int64_t waitMs) {
    for (int64_t waited = 0; waited < waitMs && !lost_; waited += kRequestRepeatMs) {
        if (!SendRequest(id)) {
            return std::nullopt;
        }
        if (auto payload = AwaitFrame(id, std::min(kRequestRepeatMs, waitMs - waited))) {
            return payload;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> Session::Request(uint8_t id, int64_t waitMs) {
    auto payload = Ask(id, waitMs);
    if (!payload && !lost_) {
        ReportNoAnswer();
    }
    return payload;
}

void Session::ReportNoAnswer() const {
    std::fprintf(stderr, "Receiver does not answer on %s at %s.\n", device_.c_str(), RateText().c_str());
}
