// Winsock backend of the network line's sockets.
#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h after winsock2.h, for FormatMessageA
#include <windows.h>

#include "link/Netsocket.h"

namespace {

constexpr DWORD kMessageTextSize = 200;
constexpr uint32_t kErrorTimeout = 1460;  // ERROR_TIMEOUT, as the serial backend reports it

SocketError SystemError(int code) {
    char text[kMessageTextSize] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0x400, text, kMessageTextSize, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return {static_cast<uint32_t>(code), message};
}

// Winsock is started once for the life of the program.
bool StartWinsock(SocketError& error) {
    static const int started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) {
        error = SystemError(started);
        return false;
    }
    return true;
}

}  // namespace

namespace netsocket {

bool StartSockets(SocketError& error) {
    return StartWinsock(error);
}

bool Resolve(const std::string& host, const std::string& port, std::vector<Address>& found,
             SocketError& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (resolved != 0) {
        error = SystemError(resolved);
        error.text = host + ": " + error.text;
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
    SOCKET s = ::socket(address.family, address.type, address.protocol);
    if (s == INVALID_SOCKET) {
        error = SystemError(WSAGetLastError());
        return false;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    const auto* target = reinterpret_cast<const sockaddr*>(address.sockaddrBytes.data());
    if (::connect(s, target, static_cast<int>(address.sockaddrBytes.size())) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        error = SystemError(WSAGetLastError());
        ::closesocket(s);
        return false;
    }
    socket = static_cast<SocketHandle>(s);
    return true;
}

// select(), not WSAPoll: before Windows 10 2004, WSAPoll never reports a refused connect, so
// every refusal would pass as a time-out. A failed connect shows in the except set, its
// reason in SO_ERROR.
SocketWait AwaitConnect(SocketHandle socket, int timeoutMs, SocketError& error) {
    const auto s = static_cast<SOCKET>(socket);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    const int n = ::select(0, nullptr, &writable, &failed, &wait);
    if (n == 0) {
        return SocketWait::kTimedOut;
    }
    int result = 0;
    int length = sizeof result;
    if (n == SOCKET_ERROR ||
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) != 0) {
        result = WSAGetLastError();
    } else if (result == 0 && FD_ISSET(s, &failed)) {
        result = WSAECONNREFUSED;
    }
    if (result != 0) {
        error = SystemError(result);
        return SocketWait::kFailed;
    }
    BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return SocketWait::kReady;
}

}  // namespace netsocket

void CloseSocket(SocketHandle& socket) {
    if (socket != kNoSocket) {
        ::closesocket(static_cast<SOCKET>(socket));
        socket = kNoSocket;
    }
}

SocketWait WaitSocket(SocketHandle socket, bool forWrite, int timeoutMs, SocketError& error) {
    WSAPOLLFD p{static_cast<SOCKET>(socket), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    const int n = WSAPoll(&p, 1, timeoutMs);
    if (n < 0) {
        error = SystemError(WSAGetLastError());
        return SocketWait::kFailed;
    }
    return n == 0 ? SocketWait::kTimedOut : SocketWait::kReady;
}

SocketIo ReceiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity, size_t& received,
                     SocketError& error) {
    received = 0;
    const int n = ::recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(buffer),
                         static_cast<int>(capacity > 65536 ? 65536 : capacity), 0);
    if (n > 0) {
        received = static_cast<size_t>(n);
        return SocketIo::kDone;
    }
    if (n == 0) {
        return SocketIo::kClosed;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        return SocketIo::kWouldBlock;
    }
    error = SystemError(code);
    return code == WSAECONNRESET || code == WSAECONNABORTED ? SocketIo::kClosed : SocketIo::kFailed;
}

SocketIo SendSome(SocketHandle socket, const uint8_t* buffer, size_t count, size_t& sent,
                  SocketError& error) {
    sent = 0;
    const int n = ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(buffer),
                         static_cast<int>(count > 65536 ? 65536 : count), 0);
    if (n >= 0) {
        sent = static_cast<size_t>(n);
        return SocketIo::kDone;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        return SocketIo::kWouldBlock;
    }
    error = SystemError(code);
    return code == WSAECONNRESET || code == WSAECONNABORTED ? SocketIo::kClosed : SocketIo::kFailed;
}

SocketError TimeoutError() {
    return SystemError(static_cast<int>(kErrorTimeout));
}

SocketError CancelledError() {
    return SystemError(ERROR_CANCELLED);
}

uint32_t ConnectionClosedCode() {
    return static_cast<uint32_t>(WSAECONNRESET);
}
