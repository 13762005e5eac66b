#pragma once
// The few socket calls a network serial line needs, one backend per platform
// (Netsocket_posix.cpp, Netsocket_win32.cpp). The socket is non-blocking for its whole life;
// every wait is bounded.
#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct SocketError {
    uint32_t code = 0;
    std::string text;
};

// Resolves the host and connects to the first address that answers within the time limit,
// with TCP_NODELAY set. False with the system's text (or the resolver's) on failure.
bool ConnectSocket(const std::string& host, const std::string& port, int timeoutMs, SocketHandle& socket,
                   SocketError& error);
void CloseSocket(SocketHandle& socket);

enum class SocketWait { kReady, kTimedOut, kFailed };
// Waits until the socket can be read (or written), or the time (-1: none) has passed.
SocketWait WaitSocket(SocketHandle socket, bool forWrite, int timeoutMs, SocketError& error);

enum class SocketIo { kDone, kWouldBlock, kClosed, kFailed };
SocketIo ReceiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity, size_t& received,
                     SocketError& error);
SocketIo SendSome(SocketHandle socket, const uint8_t* buffer, size_t count, size_t& sent, SocketError& error);

// The platform's error code and text for a wait that ended without data (ETIMEDOUT,
// ERROR_TIMEOUT), and for a connection the far end closed.
SocketError TimeoutError();
uint32_t ConnectionClosedCode();
