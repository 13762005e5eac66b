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
// How often a wait of Open looks at the cancel check.
constexpr int kCancelSliceMs = 50;
// Requests whose waiters gave up, kept to recognise their late answers: at most this many.
constexpr size_t kMaxRequests = 32;
// Sent bytes are cut from the front of the outgoing queue once this many have gathered.
constexpr size_t kCompactAt = 65536;

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

int64_t WireUs(size_t bytes, uint32_t baudRate) {
    return baudRate == 0 ? 0 : static_cast<int64_t>(bytes) * kBitsPerByte * 1'000'000 / baudRate;
}

std::string ParityName(uint32_t code) {
    static const char* const kNames[] = {"", "none", "odd", "even", "mark", "space"};
    return code >= 1 && code <= 5 ? kNames[code] : "code " + std::to_string(code);
}

std::string StopSizeName(uint32_t code) {
    return code == 1 ? "1" : code == 2 ? "2" : code == 3 ? "1.5" : "code " + std::to_string(code);
}

// What the server set instead of what was asked: "9600 baud, not 19200", "parity none, not even".
std::string GrantedText(uint8_t command, uint32_t granted, uint32_t asked) {
    using namespace telnet;
    switch (command) {
        case kSetBaudRate:
            return std::to_string(granted) + " baud, not " + std::to_string(asked);
        case kSetDataSize:
            return std::to_string(granted) + " data bits, not " + std::to_string(asked);
        case kSetParity:
            return "parity " + ParityName(granted) + ", not " + ParityName(asked);
        default:
            return StopSizeName(granted) + " stop bits, not " + StopSizeName(asked);
    }
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
    baudRate_ = baudRate;
    opening_ = true;
    const CancelCheck cancelled = [this] { return OpenCancelled(); };
    bool opened =
        ConnectSocket(address_.host, address_.port, kLookupMs, kConnectMs, cancelled, socket_, error_);
    if (!opened && error_.code == CancelledError().code) {
        FailCancelled();
    } else if (!opened) {
        error_.text = address_.shown + ": " + error_.text;
    } else if (address_.kind == NetAddress::Kind::kRfc2217) {
        opened = Negotiate(baudRate, parity);
    }
    opening_ = false;
    if (!opened) {
        Close();
    }
    return opened;
}

void NetLine::Close() {
    CloseSocket(socket_);
    decoder_ = telnet::Decoder();
    requests_.clear();
    pending_.clear();
    pendingHead_ = 0;
    outgoing_.clear();
    outgoingHead_ = 0;
    closedByPeer_ = false;
    drainEndUs_ = 0;
}

bool NetLine::OpenCancelled() const {
    return opening_ && cancel_ && cancel_();
}

// A poll time-out towards `endMs`, cut short while Open must look at its cancel check.
int NetLine::SliceMs(int64_t endMs) const {
    const int remaining = RemainingMs(endMs);
    if (!opening_ || !cancel_) {
        return remaining;
    }
    return remaining < 0 ? kCancelSliceMs : std::min(remaining, kCancelSliceMs);
}

// Binary both ways and the com-port option, then the line settings, each acknowledged with
// the value asked for.
bool NetLine::Negotiate(uint32_t baudRate, int parity) {
    using namespace telnet;
    std::vector<uint8_t> request;
    AppendNegotiation(kWill, kOptBinary, request);
    AppendNegotiation(kDo, kOptBinary, request);
    AppendNegotiation(kWill, kOptComPort, request);
    decoder_.Requested(kWill, kOptBinary);
    decoder_.Requested(kDo, kOptBinary);
    decoder_.Requested(kWill, kOptComPort);
    if (!Send(request) || !AwaitAgreement()) {
        return false;
    }
    const uint8_t parityCode = parity == 1 ? kParityOdd : parity == 3 ? kParityEven : kParityNone;
    const Setting settings[] = {
        {kSetBaudRate, baudRate, 4}, {kSetDataSize, 8, 1}, {kSetParity, parityCode, 1}, {kSetStopSize, 1, 1}};
    request.clear();
    const uint64_t firstId = nextRequestId_;
    for (const Setting& setting : settings) {
        Ask(setting, request);
    }
    std::vector<uint32_t> granted;
    if (!Transact(request, firstId, std::size(settings), "the line settings", granted)) {
        return false;
    }
    for (size_t i = 0; i < std::size(settings); ++i) {
        if (!CheckGranted(settings[i], granted[i])) {
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
        if (OpenCancelled()) {
            FailCancelled();
            return false;
        }
        if (NowMs() >= endMs) {
            Fail({TimeoutError().code, "No answer from " + address_.shown +
                                           " to the serial port control request within " +
                                           SecondsText(kAnswerMs)});
            return false;
        }
        const Pumped pumped = Pump(SliceMs(endMs));
        if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
            return false;
        }
    }
    return true;
}

// Appends the command and records it as waiting for its answer.
uint64_t NetLine::Ask(const Setting& setting, std::vector<uint8_t>& bytes) {
    telnet::AppendComPort(setting.command, setting.value, setting.bytes, bytes);
    while (requests_.size() >= kMaxRequests && requests_.front().timedOut) {
        requests_.pop_front();
    }
    requests_.push_back({nextRequestId_, setting.command});
    return nextRequestId_++;
}

// Sends the request bytes and waits for the answers to the `count` requests from `firstId`
// on, all within one time-out. Requests given up on stay recorded, so that their answers,
// should they come, are dropped.
bool NetLine::Transact(const std::vector<uint8_t>& request, uint64_t firstId, size_t count, const char* what,
                       std::vector<uint32_t>& values) {
    const auto ours = [firstId, count](const Request& r) {
        return r.id >= firstId && r.id < firstId + count;
    };
    const int64_t endMs = NowMs() + kAnswerMs;
    bool going = Send(request);
    while (going) {
        const auto waiting = std::count_if(requests_.begin(), requests_.end(),
                                           [&](const Request& r) { return ours(r) && !r.answered; });
        if (waiting == 0) {
            values.clear();
            for (const Request& r : requests_) {
                if (ours(r)) {
                    values.push_back(r.value);
                }
            }
            requests_.erase(std::remove_if(requests_.begin(), requests_.end(), ours), requests_.end());
            return true;
        }
        going = false;
        if (OpenCancelled()) {
            FailCancelled();
        } else if (NowMs() >= endMs) {
            Fail({TimeoutError().code,
                  "No answer from " + address_.shown + " to " + what + " within " + SecondsText(kAnswerMs)});
        } else {
            const Pumped pumped = Pump(SliceMs(endMs));
            going = pumped != Pumped::kClosed && pumped != Pumped::kFailed;
        }
    }
    requests_.erase(std::remove_if(requests_.begin(), requests_.end(),
                                   [&](const Request& r) { return ours(r) && r.answered; }),
                    requests_.end());
    for (Request& r : requests_) {
        r.timedOut = r.timedOut || ours(r);
    }
    return false;
}

// Gives each answer the decoder has collected to the oldest request of its kind still
// without one. The server answers in order: a request given up on that is older than the
// one answered has lost its answer for good, and a late answer to a request given up on
// is dropped here, never kept for a later request of the same kind.
void NetLine::MatchAnswers() {
    for (const telnet::ComPortAnswer& answer : decoder_.Answers()) {
        const auto found = std::find_if(requests_.begin(), requests_.end(), [&](const Request& r) {
            return !r.answered && r.command == answer.command;
        });
        if (found == requests_.end()) {
            continue;  // nobody asked: a repeated or stray answer
        }
        found->answered = true;
        found->value = answer.value;
        const uint64_t answeredId = found->id;
        requests_.erase(std::remove_if(requests_.begin(), requests_.end(),
                                       [answeredId](const Request& r) {
                                           return r.timedOut && (r.id == answeredId || !r.answered) &&
                                                  r.id <= answeredId;
                                       }),
                        requests_.end());
    }
    decoder_.Answers().clear();
}

bool NetLine::CheckGranted(const Setting& asked, uint32_t granted) {
    if (granted == asked.value) {
        return true;
    }
    Fail({22, "The server at " + address_.shown + " set " + GrantedText(asked.command, granted, asked.value) +
                  "."});
    return false;
}

// One wait for the socket and one receive; what waits to be sent goes out first, as far as
// the socket takes it without waiting.
NetLine::Pumped NetLine::Pump(int timeoutMs) {
    if (closedByPeer_) {
        FailClosed();
        return Pumped::kClosed;
    }
    if (socket_ == kNoSocket) {
        Fail({9, "The port is not open"});
        return Pumped::kFailed;
    }
    if (!SendQueued()) {
        return closedByPeer_ ? Pumped::kClosed : Pumped::kFailed;
    }
    const SocketWait waited = WaitSocket(socket_, false, timeoutMs, error_);
    if (waited == SocketWait::kTimedOut) {
        return Pumped::kNothing;
    }
    if (waited == SocketWait::kFailed) {
        return Pumped::kFailed;
    }
    return Receive();
}

// One receive: decoded data goes to the pending queue, answers to their requests, the
// codec's replies out at once.
NetLine::Pumped NetLine::Receive() {
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
        MatchAnswers();
        std::vector<uint8_t>& replies = decoder_.Replies();
        if (!replies.empty() && OutgoingSize() + replies.size() <= kMaxOutgoing) {
            Queue(replies);
        }
        replies.clear();
        if (!SendQueued()) {
            return closedByPeer_ ? Pumped::kClosed : Pumped::kFailed;
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
    return decoded_.empty() ? Pumped::kControl : Pumped::kData;
}

void NetLine::Queue(const std::vector<uint8_t>& bytes) {
    if (OutgoingSize() == 0) {
        outgoing_.clear();
        outgoingHead_ = 0;
        lastTakenMs_ = NowMs();  // the stall is counted from the moment something waits
    }
    outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
}

// Hands the socket what it takes of the outgoing queue without waiting.
bool NetLine::SendQueued() {
    while (OutgoingSize() > 0) {
        size_t sent = 0;
        const SocketIo io = SendSome(socket_, outgoing_.data() + outgoingHead_, OutgoingSize(), sent, error_);
        if (io == SocketIo::kWouldBlock) {
            break;
        }
        if (io == SocketIo::kClosed) {
            closedByPeer_ = true;
            FailClosed();
            return false;
        }
        if (io == SocketIo::kFailed) {
            return false;
        }
        outgoingHead_ += sent;
        lastTakenMs_ = NowMs();
    }
    if (outgoingHead_ >= kCompactAt || outgoingHead_ == outgoing_.size()) {
        outgoing_.erase(outgoing_.begin(), outgoing_.begin() + static_cast<std::ptrdiff_t>(outgoingHead_));
        outgoingHead_ = 0;
    }
    return true;
}

bool NetLine::Stalled() const {
    return OutgoingSize() > 0 && NowMs() - lastTakenMs_ >= kStallMs;
}

// Sends the whole outgoing queue, waiting at most until `endMs` (negative: until the peer
// stalls).
bool NetLine::Flush(int64_t endMs) {
    for (;;) {
        if (!SendQueued()) {
            return false;
        }
        if (OutgoingSize() == 0) {
            return true;
        }
        if (Stalled()) {
            FailStalled();
            return false;
        }
        if (OpenCancelled()) {
            FailCancelled();
            return false;
        }
        if (endMs >= 0 && NowMs() >= endMs) {
            Fail({TimeoutError().code, "The server at " + address_.shown + " is not taking data: " +
                                           std::to_string(OutgoingSize()) + " bytes wait to be sent"});
            return false;
        }
        const int64_t stallEndMs = lastTakenMs_ + kStallMs;
        if (WaitSocket(socket_, true, SliceMs(endMs < 0 ? stallEndMs : std::min(endMs, stallEndMs)),
                       error_) == SocketWait::kFailed) {
            return false;
        }
    }
}

// Queues a request and sends it, with what waits before it.
bool NetLine::Send(const std::vector<uint8_t>& bytes) {
    Queue(bytes);
    return Flush(NowMs() + kAnswerMs);
}

// Waits at most the non-blocking time for the outgoing queue to take `count` more bytes.
// An empty queue takes any write whole.
bool NetLine::MakeRoom(size_t count) {
    const int64_t endMs = NowMs() + kNonBlockingMs;
    while (OutgoingSize() > 0 && OutgoingSize() + count > kMaxOutgoing) {
        if (NowMs() >= endMs) {
            return Flush(endMs);  // fails with the stall or with what waits
        }
        if (!SendQueued() || WaitSocket(socket_, true, RemainingMs(endMs), error_) == SocketWait::kFailed) {
            return false;
        }
    }
    return true;
}

void NetLine::FailClosed() {
    Fail({ConnectionClosedCode(), "connection closed by " + address_.shown});
}

void NetLine::FailCancelled() {
    Fail({CancelledError().code, "Connecting to " + address_.shown + " was cancelled"});
}

void NetLine::FailStalled() {
    Fail({TimeoutError().code,
          "The server at " + address_.shown + " has taken no data for " + SecondsText(kStallMs)});
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
        // Whatever has arrived, up to the capacity: the receives go on past Telnet commands
        // (a flood of notifications), for at most half the non-blocking time.
        const int64_t endMs = NowMs() + kNonBlockingMs / 2;
        Pumped pumped = Pumped::kControl;
        while (PendingSize() < capacity && (pumped == Pumped::kData || pumped == Pumped::kControl) &&
               NowMs() < endMs) {
            pumped = Pump(0);
        }
        if (pumped == Pumped::kFailed) {
            return false;
        }
    } else {
        const int64_t endMs = waitMs < 0 ? -1 : NowMs() + waitMs;
        while (PendingSize() == 0) {
            const Pumped pumped = Pump(RemainingMs(endMs));
            if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
                return false;
            }
            if (pumped != Pumped::kData && endMs >= 0 && NowMs() >= endMs) {
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

// Blocking: returns once the socket has taken every byte, or the peer has taken none for
// kStallMs. Non-blocking: queues the bytes (waiting at most kNonBlockingMs for room) and
// sends what the socket takes at once; later reads and writes send the rest.
bool NetLine::WriteNet(const uint8_t* buffer, uint32_t count, uint32_t* written, bool blocking) {
    if (written != nullptr) {
        *written = 0;
    }
    if (socket_ == kNoSocket || closedByPeer_) {
        FailClosed();
        return false;
    }
    if (!SendQueued()) {
        return false;
    }
    if (Stalled()) {
        FailStalled();
        return false;
    }
    std::vector<uint8_t> bytes;
    if (address_.kind == NetAddress::Kind::kRfc2217) {
        telnet::AppendEscaped(buffer, count, bytes);
    } else {
        bytes.assign(buffer, buffer + count);
    }
    if (!blocking && !MakeRoom(bytes.size())) {
        return false;
    }
    Queue(bytes);
    const bool sent = blocking ? Flush(-1) : SendQueued();
    if (sent) {
        drainEndUs_ = std::max(drainEndUs_, NowUs()) + WireUs(count, baudRate_);
    }
    if (written != nullptr) {
        *written = sent ? count : 0;
    }
    return sent;
}

// Waits until what was written has had time to leave the server's serial port, at most the
// stall time (a backlog that long is no longer a queue).
void NetLine::WaitForDrain() {
    const int64_t waitUs =
        std::min<int64_t>(drainEndUs_ + kServerLatencyUs - NowUs(), int64_t{kStallMs} * 1000);
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
    // The data still queued here leaves at the old rate too.
    const size_t queued = OutgoingSize();
    if (!Flush(-1)) {
        return false;
    }
    drainEndUs_ = std::max(drainEndUs_, NowUs() + WireUs(queued, baudRate_));
    WaitForDrain();
    std::vector<uint8_t> request;
    const Setting setting{telnet::kSetBaudRate, baudRate, 4};
    const uint64_t id = Ask(setting, request);
    std::vector<uint32_t> granted;
    if (!Transact(request, id, 1, "the rate change", granted) || !CheckGranted(setting, granted[0])) {
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
        const uint64_t id = Ask({telnet::kPurgeData, telnet::kPurgeBoth, 1}, request);
        // The server's acknowledgment follows, in the stream, every byte it sent before the
        // purge: awaiting it lets those bytes (heard at a rate no longer in force) be dropped
        // below, instead of arriving after the purge as if they were new. A server that never
        // acknowledges costs the wait, not the line.
        std::vector<uint32_t> purged;
        if (!Transact(request, id, 1, "the purge", purged) && socket_ != kNoSocket && !closedByPeer_) {
            error_ = {};
        }
    }
    // What has arrived so far is discarded, as a driver's input queue is; a peer that never
    // pauses is drained for the non-blocking time only. A raw line cannot ask its server to
    // purge: what the server held before the connect, which it sends at once, is waited for.
    const bool justOpened = address_.kind == NetAddress::Kind::kTcp && NowMs() - openedMs_ < kHeldBytesMs;
    const int64_t endMs = justOpened ? openedMs_ + kHeldBytesMs : NowMs() + kNonBlockingMs;
    while (justOpened && NowMs() < endMs) {
        const Pumped pumped = Pump(RemainingMs(endMs));
        if (pumped == Pumped::kClosed || pumped == Pumped::kFailed) {
            break;
        }
    }
    for (Pumped pumped = Pump(0); (pumped == Pumped::kData || pumped == Pumped::kControl) && NowMs() < endMs;
         pumped = Pump(0)) {
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
    openedMs_ = NowMs();
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

std::string NetLine::Where() const {
    NetAddress address;
    std::string ignored;
    return ParseNetAddress(madeFor_, address, ignored) ? address.shown : madeFor_;
}

bool NetLine::CanChangeRate() const {
    return !HasFixedRate(madeFor_);
}

std::string NetLine::RateRefusal() const {
    return CanChangeRate() ? std::string() : FixedRateText(madeFor_);
}
