#include "link/Netline.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

namespace {

constexpr size_t kReceiveChunk = 16384;
constexpr int64_t kBitsPerByte = 10;
// Besides the wire time, the server needs a moment to pass its queue on to the device.
constexpr int64_t kServerLatencyUs = 20'000;

int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t NowMs() {
    return NowUs() / 1000;
}

// Milliseconds left until `endMs` (negative: no end) as a poll time-out.
int RemainingMs(int64_t endMs) {
    return endMs < 0 ? -1 : static_cast<int>(std::clamp<int64_t>(endMs - NowMs(), 0, INT_MAX));
}

}  // namespace

NetLine::NetLine(const std::string& name) : madeFor_(name) {}

NetLine::~NetLine() {
    Close();
}

bool NetLine::OpenNet(const std::string& name, uint32_t baudRate, int parity) {
    CloseSocket(socket_);
    std::string text;
    if (!ParseNetAddress(name, address_, text)) {
        Fail({22, text});
        return false;
    }
    if (!ConnectSocket(address_.host, address_.port, kConnectMs, socket_, error_)) {
        error_.text = address_.shown + ": " + error_.text;
        return false;
    }
    decoder_ = telnet::Decoder();
    pending_.clear();
    pendingHead_ = 0;
    closedByPeer_ = false;
    baudRate_ = baudRate;
    drainEndUs_ = 0;
    if (address_.kind == NetAddress::Kind::kRfc2217 && !Negotiate(baudRate, parity)) {
        CloseSocket(socket_);
        return false;
    }
    return true;
}

void NetLine::Close() {
    CloseSocket(socket_);
}

// Binary both ways and the com-port option, then the line settings, each acknowledged.
bool NetLine::Negotiate(uint32_t baudRate, int parity) {
    using namespace telnet;
    std::vector<uint8_t> request;
    AppendNegotiation(kWill, kOptBinary, request);
    AppendNegotiation(kDo, kOptBinary, request);
    AppendNegotiation(kWill, kOptComPort, request);
    decoder_.Requested(kWill, kOptBinary);
    decoder_.Requested(kDo, kOptBinary);
    decoder_.Requested(kWill, kOptComPort);
    if (!SendAll(request, NowMs() + kAnswerMs) || !AwaitAgreement()) {
        return false;
    }
    const uint8_t parityCode = parity == 1 ? kParityOdd : parity == 3 ? kParityEven : kParityNone;
    const struct {
        uint8_t command;
        uint32_t value;
        int bytes;
    } settings[] = {
        {kSetBaudRate, baudRate, 4}, {kSetDataSize, 8, 1}, {kSetParity, parityCode, 1}, {kSetStopSize, 1, 1}};
    request.clear();
    for (const auto& setting : settings) {
        AppendComPort(setting.command, setting.value, setting.bytes, request);
    }
    if (!SendAll(request, NowMs() + kAnswerMs)) {
        return false;
    }
    for (const auto& setting : settings) {
        uint32_t value = 0;
        if (!AwaitAnswer(setting.command, value)) {
            return false;
        }
    }
    return true;
}

bool NetLine::AwaitAgreement() {
    const int64_t endMs = NowMs() + kAnswerMs;
    while (!decoder_.ComPortAgreed()) {
        if (decoder_.ComPortRefused()) {
            Fail({95, address_.shown + " does not offer serial port control (RFC 2217); use tcp:// for a "
                                       "fixed-rate line"});
            return false;
        }
        if (NowMs() >= endMs) {
            Fail({TimeoutError().code, "No answer from " + address_.shown +
                                           " to the serial port control "
                                           "request within 3 s"});
            return false;
        }
        const Pumped pumped = Pump(RemainingMs(endMs));
        if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
            return false;
        }
    }
    return true;
}

bool NetLine::AwaitAnswer(uint8_t command, uint32_t& value) {
    const int64_t endMs = NowMs() + kAnswerMs;
    for (;;) {
        auto& answers = decoder_.Answers();
        const auto found =
            std::find_if(answers.begin(), answers.end(),
                         [command](const telnet::ComPortAnswer& a) { return a.command == command; });
        if (found != answers.end()) {
            value = found->value;
            answers.erase(found);
            return true;
        }
        if (NowMs() >= endMs) {
            Fail({TimeoutError().code, "No acknowledgment from " + address_.shown + " within 3 s"});
            return false;
        }
        const Pumped pumped = Pump(RemainingMs(endMs));
        if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
            return false;
        }
    }
}

// One wait for the socket and one receive: decoded data goes to the pending queue, the
// codec's replies go out at once.
NetLine::Pumped NetLine::Pump(int timeoutMs) {
    if (closedByPeer_) {
        FailClosed();
        return Pumped::kClosed;
    }
    if (socket_ == kNoSocket) {
        Fail({9, "The port is not open"});
        return Pumped::kFailed;
    }
    const SocketWait waited = WaitSocket(socket_, false, timeoutMs, error_);
    if (waited == SocketWait::kTimedOut) {
        return Pumped::kNothing;
    }
    if (waited == SocketWait::kFailed) {
        return Pumped::kFailed;
    }
    uint8_t chunk[kReceiveChunk];
    size_t received = 0;
    const SocketIo io = ReceiveSome(socket_, chunk, sizeof chunk, received, error_);
    if (io == SocketIo::kWouldBlock) {
        return Pumped::kNothing;
    }
    if (io == SocketIo::kClosed) {
        closedByPeer_ = true;
        FailClosed();
        return Pumped::kClosed;
    }
    if (io == SocketIo::kFailed) {
        return Pumped::kFailed;
    }
    decoded_.clear();
    if (address_.kind == NetAddress::Kind::kRfc2217) {
        decoder_.Decode(chunk, received, decoded_);
        if (!SendReplies()) {
            return Pumped::kFailed;
        }
    } else {
        decoded_.assign(chunk, chunk + received);
    }
    if (pendingHead_ > 0 && pendingHead_ == pending_.size()) {
        pending_.clear();
        pendingHead_ = 0;
    }
    const size_t room = kMaxPending - std::min(kMaxPending, PendingSize());
    pending_.insert(pending_.end(), decoded_.begin(),
                    decoded_.begin() + static_cast<std::ptrdiff_t>(std::min(room, decoded_.size())));
    return decoded_.empty() ? Pumped::kNothing : Pumped::kData;
}

bool NetLine::SendReplies() {
    std::vector<uint8_t>& replies = decoder_.Replies();
    if (replies.empty()) {
        return true;
    }
    const std::vector<uint8_t> bytes = std::move(replies);
    replies.clear();
    return SendAll(bytes, NowMs() + kAnswerMs);
}

bool NetLine::SendAll(const std::vector<uint8_t>& bytes, int64_t deadlineMs) {
    size_t done = 0;
    while (done < bytes.size()) {
        size_t sent = 0;
        const SocketIo io = SendSome(socket_, bytes.data() + done, bytes.size() - done, sent, error_);
        if (io == SocketIo::kDone) {
            done += sent;
            continue;
        }
        if (io == SocketIo::kClosed) {
            closedByPeer_ = true;
            FailClosed();
            return false;
        }
        if (io == SocketIo::kFailed) {
            return false;
        }
        if (deadlineMs >= 0 && NowMs() >= deadlineMs) {
            error_ = TimeoutError();
            return false;
        }
        if (WaitSocket(socket_, true, RemainingMs(deadlineMs), error_) == SocketWait::kFailed) {
            return false;
        }
    }
    return true;
}

void NetLine::FailClosed() {
    Fail({ConnectionClosedCode(), "connection closed by " + address_.shown});
}

uint32_t NetLine::TakePending(uint8_t* buffer, uint32_t capacity) {
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(capacity, PendingSize()));
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingHead_), count, buffer);
    pendingHead_ += count;
    if (pendingHead_ == pending_.size()) {
        pending_.clear();
        pendingHead_ = 0;
    }
    return count;
}

bool NetLine::ReadNet(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs, bool blocking) {
    if (received != nullptr) {
        *received = 0;
    }
    if (capacity == 0) {
        return true;
    }
    if (!blocking) {
        if (PendingSize() == 0 && !closedByPeer_) {
            Pump(0);
        }
    } else {
        const int64_t endMs = waitMs < 0 ? -1 : NowMs() + waitMs;
        while (PendingSize() == 0) {
            const Pumped pumped = Pump(RemainingMs(endMs));
            if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
                return false;
            }
            if (pumped == Pumped::kNothing && endMs >= 0 && NowMs() >= endMs) {
                error_ = TimeoutError();
                return false;
            }
        }
        // Then whatever follows without a pause, as a serial read does.
        while (PendingSize() < capacity && Pump(kQuietGapMs) == Pumped::kData) {
        }
    }
    if (PendingSize() == 0 && closedByPeer_) {
        FailClosed();
        return false;
    }
    const uint32_t count = TakePending(buffer, capacity);
    if (received != nullptr) {
        *received = count;
    }
    return true;
}

bool NetLine::WriteNet(const uint8_t* buffer, uint32_t count, uint32_t* written, bool blocking) {
    if (written != nullptr) {
        *written = 0;
    }
    if (socket_ == kNoSocket || closedByPeer_) {
        FailClosed();
        return false;
    }
    outgoing_.clear();
    if (address_.kind == NetAddress::Kind::kRfc2217) {
        telnet::AppendEscaped(buffer, count, outgoing_);
    } else {
        outgoing_.assign(buffer, buffer + count);
    }
    const int64_t limitMs = kWriteMsPerByte * count + kWriteMsConstant;
    const bool sent = SendAll(outgoing_, NowMs() + (blocking ? limitMs * 4 : limitMs));
    if (sent && baudRate_ > 0) {
        const int64_t wireUs = int64_t{count} * kBitsPerByte * 1'000'000 / baudRate_;
        drainEndUs_ = std::max(drainEndUs_, NowUs()) + wireUs;
    }
    if (written != nullptr) {
        *written = sent ? count : 0;
    }
    return sent;
}

void NetLine::WaitForDrain() const {
    const int64_t waitUs = drainEndUs_ + kServerLatencyUs - NowUs();
    if (drainEndUs_ > 0 && waitUs > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
    }
}

bool NetLine::SetRateNet(uint32_t baudRate) {
    if (socket_ == kNoSocket) {
        Fail({9, "The port is not open"});
        return false;
    }
    if (address_.kind == NetAddress::Kind::kTcp) {
        if (baudRate == baudRate_) {
            return true;
        }
        Fail({22, FixedRateText("tcp://" + address_.shown)});
        return false;
    }
    WaitForDrain();
    std::vector<uint8_t> request;
    telnet::AppendComPort(telnet::kSetBaudRate, baudRate, 4, request);
    uint32_t granted = 0;
    if (!SendAll(request, NowMs() + kAnswerMs) || !AwaitAnswer(telnet::kSetBaudRate, granted)) {
        if (error_.code == TimeoutError().code) {
            error_.text = "No answer from " + address_.shown + " to the rate change within 3 s";
        }
        return false;
    }
    if (granted != baudRate) {
        Fail({22, address_.shown + " did not take the rate " + std::to_string(baudRate) + " (it reports " +
                      std::to_string(granted) + ")"});
        return false;
    }
    baudRate_ = baudRate;
    drainEndUs_ = 0;
    return true;
}

void NetLine::Purge() {
    if (socket_ == kNoSocket || closedByPeer_) {
        return;
    }
    if (address_.kind == NetAddress::Kind::kRfc2217) {
        std::vector<uint8_t> request;
        telnet::AppendComPort(telnet::kPurgeData, telnet::kPurgeBoth, 1, request);
        // The server's acknowledgment follows, in the stream, every byte it sent before the
        // purge: awaiting it lets those bytes (heard at a rate no longer in force) be dropped
        // below, instead of arriving after the purge as if they were new. A server that never
        // acknowledges costs the wait, not the line.
        uint32_t purged = 0;
        if (SendAll(request, NowMs() + kAnswerMs) && !AwaitAnswer(telnet::kPurgeData, purged) &&
            socket_ != kNoSocket && !closedByPeer_) {
            error_ = {};
        }
    }
    // What has arrived so far is discarded, as a driver's input queue is.
    while (Pump(0) == Pumped::kData) {
    }
    pending_.clear();
    pendingHead_ = 0;
}

// The line's face of the network client: each failure becomes the line's error, with a text
// that explains itself (the address and what went wrong).
bool NetLine::Result(bool ok) {
    if (!ok) {
        RecordError(error_.code, error_.text, true);
    }
    return ok;
}

bool NetLine::Open(const std::string& name, uint32_t baudRate, int parity) {
    if (IsOpen()) {
        return false;
    }
    madeFor_ = name;
    if (!Result(OpenNet(name, baudRate, parity))) {
        return false;
    }
    SetName(name);
    CountLineChange();
    return true;
}

bool NetLine::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (!Result(ReadNet(buffer, capacity, received, waitMs, Blocking()))) {
        return false;
    }
    StampReadNow();
    return true;
}

bool NetLine::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    return Result(WriteNet(buffer, count, written, Blocking()));
}

bool NetLine::SetBaudRate(uint32_t baudRate) {
    if (!Result(SetRateNet(baudRate))) {
        return false;
    }
    CountLineChange();
    return true;
}

bool NetLine::CanChangeRate() const {
    return !HasFixedRate(madeFor_);
}

std::string NetLine::RateRefusal() const {
    return CanChangeRate() ? std::string() : FixedRateText(madeFor_);
}
