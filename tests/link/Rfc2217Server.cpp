#include "Rfc2217Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>

#include "link/Telnetcodec.h"

namespace {

using namespace telnet;

constexpr int kSliceMs = 20;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// One client's connection: where its Telnet stream stands, and what waits to go back.
struct Rfc2217Server::Session {
    enum class State { kData, kIac, kOption, kSb, kSbIac };
    State state = State::kData;
    uint8_t verb = 0;
    std::vector<uint8_t> sb;
    std::map<uint8_t, int> asked;  // requests per command so far
    std::deque<Outgoing> outgoing;
    int fd = -1;
    bool deaf = false;
};

Rfc2217Server::Rfc2217Server(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listener_, 4) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
    thread_ = std::thread([this] { Run(); });
}

Rfc2217Server::~Rfc2217Server() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

int Rfc2217Server::AnswersSent(uint8_t command) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = answersSent_.find(command);
    return found == answersSent_.end() ? 0 : found->second;
}

uint32_t Rfc2217Server::Baud() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return baud_;
}

std::vector<uint8_t> Rfc2217Server::Received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

// Serves one client after another until the server is destroyed.
void Rfc2217Server::Run() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) == 1) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                Serve(fd);
                ::close(fd);
            }
        }
    }
}

void Rfc2217Server::Serve(int fd) {
    Session session;
    session.fd = fd;
    uint8_t buffer[4096];
    while (!stop_ && SendDue(session)) {
        int waitMs = kSliceMs;
        if (!session.outgoing.empty()) {
            waitMs =
                static_cast<int>(std::clamp<int64_t>(session.outgoing.front().dueMs - NowMs(), 0, kSliceMs));
        }
        if (session.deaf) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return;
        }
        if (n > 0 && !script_.mute) {
            Take(session, buffer, static_cast<size_t>(n));
        }
    }
}

// Sends, in order, what has come due. Once the script's bytes after the open have gone, a
// deaf server reads no more.
bool Rfc2217Server::SendDue(Session& session) {
    while (!session.outgoing.empty() && session.outgoing.front().dueMs <= NowMs()) {
        const Outgoing item = std::move(session.outgoing.front());
        session.outgoing.pop_front();
        if (item.answerTo != 0) {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++answersSent_[item.answerTo];
        }
        const size_t piece = script_.byteByByte ? 1 : item.bytes.size();
        for (size_t at = 0; at < item.bytes.size(); at += piece) {
            if (!SendAll(session.fd, item.bytes.data() + at, std::min(piece, item.bytes.size() - at))) {
                return false;
            }
            if (script_.byteByByte) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        session.deaf = session.deaf || (item.afterOpen && script_.deafAfterOpen);
    }
    return true;
}

// Sends the bytes whole, or gives up when the server is being destroyed.
bool Rfc2217Server::SendAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0 && !stop_) {
        const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kSliceMs);
        }
    }
    return count == 0;
}

void Rfc2217Server::Queue(Session& session, int delayMs, uint8_t answerTo, std::vector<uint8_t> bytes,
                          bool afterOpen) {
    const int64_t earliest = session.outgoing.empty() ? 0 : session.outgoing.back().dueMs;
    session.outgoing.push_back(
        {std::max(earliest, NowMs() + delayMs), answerTo, afterOpen, std::move(bytes)});
}

// The client's Telnet stream: negotiation answered, subnegotiations handled, data kept.
void Rfc2217Server::Take(Session& session, const uint8_t* bytes, size_t count) {
    using State = Session::State;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        switch (session.state) {
            case State::kData:
                if (byte == kIac) {
                    session.state = State::kIac;
                } else {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    received_.push_back(byte);
                }
                break;
            case State::kIac:
                session.state = State::kData;
                if (byte == kIac) {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    received_.push_back(byte);
                } else if (byte == kSb) {
                    session.sb.clear();
                    session.state = State::kSb;
                } else if (byte >= kWill) {
                    session.verb = byte;
                    session.state = State::kOption;
                }
                break;
            case State::kOption:
                Negotiate(session, byte);
                session.state = State::kData;
                break;
            case State::kSb:
                if (byte == kIac) {
                    session.state = State::kSbIac;
                } else {
                    session.sb.push_back(byte);
                }
                break;
            case State::kSbIac:
                if (byte == kSe) {
                    Subnegotiation(session);
                    session.state = State::kData;
                } else {
                    session.sb.push_back(byte);
                    session.state = State::kSb;
                }
                break;
        }
    }
}

// Agrees to binary both ways, and to the com-port option unless the script refuses it.
void Rfc2217Server::Negotiate(Session& session, uint8_t option) {
    std::vector<uint8_t> answer;
    if (session.verb == kWill && option == kOptComPort) {
        AppendNegotiation(script_.refuseComPort ? kDont : kDo, option, answer);
    } else if (session.verb == kWill && option == kOptBinary) {
        AppendNegotiation(kDo, option, answer);
    } else if (session.verb == kDo && option == kOptBinary) {
        AppendNegotiation(kWill, option, answer);
    }
    if (!answer.empty()) {
        Queue(session, 0, 0, std::move(answer));
    }
}

// A com-port command: answered with the value granted, when the script says; the answer to
// the last line setting of an open brings the script's bytes after it.
void Rfc2217Server::Subnegotiation(Session& session) {
    if (session.sb.size() < 2 || session.sb[0] != kOptComPort || session.sb[1] >= kServerOffset) {
        return;
    }
    const uint8_t command = session.sb[1];
    uint32_t value = 0;
    for (size_t i = 2; i < session.sb.size(); ++i) {
        value = value << 8 | session.sb[i];
    }
    const auto grant = script_.granted.find({command, value});
    const uint32_t granted = grant == script_.granted.end() ? value : grant->second;
    if (command == kSetBaudRate) {
        const std::lock_guard<std::mutex> lock(mutex_);
        baud_ = value;
    }
    const auto held = script_.heldMs.find({command, session.asked[command]++});
    std::vector<uint8_t> answer;
    AppendComPort(static_cast<uint8_t>(command + kServerOffset), granted, command == kSetBaudRate ? 4 : 1,
                  answer);
    Queue(session, held == script_.heldMs.end() ? 0 : held->second, command, std::move(answer));
    if (command == kSetStopSize) {
        Queue(session, 0, 0, script_.afterOpen, true);
    }
}
