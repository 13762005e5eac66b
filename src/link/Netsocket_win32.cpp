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

SOCKET ConnectOne(const addrinfo& info, int timeoutMs, SocketError& error) {
    SOCKET s = ::socket(info.ai_family, info.ai_socktype, info.ai_protocol);
    if (s == INVALID_SOCKET) {
        error = SystemError(WSAGetLastError());
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    if (::connect(s, info.ai_addr, static_cast<int>(info.ai_addrlen)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        error = SystemError(WSAGetLastError());
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    WSAPOLLFD p{s, POLLWRNORM, 0};
    const int n = WSAPoll(&p, 1, timeoutMs);
    int result = 0;
    int length = sizeof result;
    if (n == 0) {
        result = WSAETIMEDOUT;
    } else if (n < 0) {
        result = WSAGetLastError();
    } else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length) != 0) {
        result = WSAGetLastError();
    } else if (result == 0 && (p.revents & (POLLERR | POLLHUP)) != 0) {
        result = WSAECONNREFUSED;
    }
    if (result != 0) {
        error = SystemError(result);
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

}  // namespace

bool ConnectSocket(const std::string& host, const std::string& port, int timeoutMs, SocketHandle& socket,
                   SocketError& error) {
    if (!StartWinsock(error)) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        error = SystemError(resolved);
        error.text = host + ": " + error.text;
        return false;
    }
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* info = found; info != nullptr && s == INVALID_SOCKET; info = info->ai_next) {
        s = ConnectOne(*info, timeoutMs, error);
    }
    ::freeaddrinfo(found);
    if (s == INVALID_SOCKET) {
        return false;
    }
    socket = static_cast<SocketHandle>(s);
    return true;
}

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

uint32_t ConnectionClosedCode() {
    return static_cast<uint32_t>(WSAECONNRESET);
}
