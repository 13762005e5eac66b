// POSIX backend of the network line's sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/Netsocket.h"

namespace {

SocketError SystemError(int code) {
    return {static_cast<uint32_t>(code), std::strerror(code)};
}

int PollOnce(int fd, short events, int timeoutMs, short& revents) {
    pollfd p{fd, events, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    revents = p.revents;
    return n;
}

}  // namespace

namespace netsocket {

bool StartSockets(SocketError& /*error*/) {
    return true;
}

bool Resolve(const std::string& host, const std::string& port, std::vector<Address>& found,
             SocketError& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (resolved != 0) {
        error = {static_cast<uint32_t>(EHOSTUNREACH), host + ": " + ::gai_strerror(resolved)};
        return false;
    }
    for (const addrinfo* info = list; info != nullptr; info = info->ai_next) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(info->ai_addr);
        found.push_back(
            {info->ai_family, info->ai_socktype, info->ai_protocol, {bytes, bytes + info->ai_addrlen}});
    }
    ::freeaddrinfo(list);
    return true;
}

bool BeginConnect(const Address& address, SocketHandle& socket, SocketError& error) {
    const int fd = ::socket(address.family, address.type | SOCK_CLOEXEC | SOCK_NONBLOCK, address.protocol);
    if (fd < 0) {
        error = SystemError(errno);
        return false;
    }
    const auto* target = reinterpret_cast<const sockaddr*>(address.sockaddrBytes.data());
    if (::connect(fd, target, static_cast<socklen_t>(address.sockaddrBytes.size())) != 0 &&
        errno != EINPROGRESS) {
        error = SystemError(errno);
        ::close(fd);
        return false;
    }
    socket = fd;
    return true;
}

SocketWait AwaitConnect(SocketHandle socket, int timeoutMs, SocketError& error) {
    const int fd = static_cast<int>(socket);
    short revents = 0;
    const int n = PollOnce(fd, POLLOUT, timeoutMs, revents);
    if (n == 0) {
        return SocketWait::kTimedOut;
    }
    int result = 0;
    socklen_t length = sizeof result;
    if (n < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
        result = errno;
    }
    if (result != 0) {
        error = SystemError(result);
        return SocketWait::kFailed;
    }
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return SocketWait::kReady;
}

}  // namespace netsocket

void CloseSocket(SocketHandle& socket) {
    if (socket != kNoSocket) {
        ::close(static_cast<int>(socket));
        socket = kNoSocket;
    }
}

SocketWait WaitSocket(SocketHandle socket, bool forWrite, int timeoutMs, SocketError& error) {
    short revents = 0;
    const int n = PollOnce(static_cast<int>(socket), forWrite ? POLLOUT : POLLIN, timeoutMs, revents);
    if (n < 0) {
        error = SystemError(errno);
        return SocketWait::kFailed;
    }
    // A hang-up or error shows as ready: the next receive or send tells which.
    return n == 0 ? SocketWait::kTimedOut : SocketWait::kReady;
}

SocketIo ReceiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity, size_t& received,
                     SocketError& error) {
    received = 0;
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket), buffer, capacity, 0);
        if (n > 0) {
            received = static_cast<size_t>(n);
            return SocketIo::kDone;
        }
        if (n == 0) {
            return SocketIo::kClosed;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return SocketIo::kWouldBlock;
        }
        if (errno != EINTR) {
            error = SystemError(errno);
            return errno == ECONNRESET ? SocketIo::kClosed : SocketIo::kFailed;
        }
    }
}

SocketIo SendSome(SocketHandle socket, const uint8_t* buffer, size_t count, size_t& sent,
                  SocketError& error) {
    sent = 0;
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socket), buffer, count, MSG_NOSIGNAL);
        if (n >= 0) {
            sent = static_cast<size_t>(n);
            return SocketIo::kDone;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return SocketIo::kWouldBlock;
        }
        if (errno != EINTR) {
            error = SystemError(errno);
            return errno == EPIPE || errno == ECONNRESET ? SocketIo::kClosed : SocketIo::kFailed;
        }
    }
}

SocketError TimeoutError() {
    return SystemError(ETIMEDOUT);
}

SocketError CancelledError() {
    return SystemError(ECANCELED);
}

uint32_t ConnectionClosedCode() {
    return static_cast<uint32_t>(ECONNRESET);
}
