#pragma once
// The few socket calls a network serial line needs, one backend per platform
// (Netsocket_posix.cpp, Netsocket_win32.cpp) under one connect shared by both
// (Netconnect.cpp). The socket is non-blocking for its whole life; every wait is bounded.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct SocketError {
    uint32_t code = 0;
    std::string text;
};

// Asked at every bounded wait of a connect; true abandons it.
using CancelCheck = std::function<bool()>;

// Resolves the host (giving up after lookupMs; the lookup itself cannot be interrupted and
// finishes on a thread of its own) and connects to the first address that answers, all of
// them within connectMs together, with TCP_NODELAY set. False with the system's text (or the
// resolver's) on failure, or with CancelledError() once `cancelled` says so.
bool ConnectSocket(const std::string& host, const std::string& port, int lookupMs, int connectMs,
                   const CancelCheck& cancelled, SocketHandle& socket, SocketError& error);
void CloseSocket(SocketHandle& socket);

enum class SocketWait { kReady, kTimedOut, kFailed };
// Waits until the socket can be read (or written), or the time (-1: none) has passed.
SocketWait WaitSocket(SocketHandle socket, bool forWrite, int timeoutMs, SocketError& error);

enum class SocketIo { kDone, kWouldBlock, kClosed, kFailed };
SocketIo ReceiveSome(SocketHandle socket, uint8_t* buffer, size_t capacity, size_t& received,
                     SocketError& error);
SocketIo SendSome(SocketHandle socket, const uint8_t* buffer, size_t count, size_t& sent, SocketError& error);

// The platform's error code and text for a wait that ended without data (ETIMEDOUT,
// ERROR_TIMEOUT), for a wait the caller abandoned (ECANCELED, ERROR_CANCELLED), and the code
// for a connection the far end closed.
SocketError TimeoutError();
SocketError CancelledError();
uint32_t ConnectionClosedCode();
// A time for messages: "3 s", "2.5 s".
std::string SecondsText(int ms);

// What each backend gives the shared connect.
namespace netsocket {

// One resolved address: the sockaddr's bytes with what socket() needs for it.
struct Address {
    int family = 0;
    int type = 0;
    int protocol = 0;
    std::vector<uint8_t> sockaddrBytes;
};

// Starts the platform's sockets once (Winsock); true where there is nothing to start.
bool StartSockets(SocketError& error);
// The blocking name lookup; run on a thread of its own.
bool Resolve(const std::string& host, const std::string& port, std::vector<Address>& found,
             SocketError& error);
// Makes a non-blocking socket and starts its connect; false when either fails at once.
bool BeginConnect(const Address& address, SocketHandle& socket, SocketError& error);
// Waits for a started connect: kReady once connected (TCP_NODELAY then set), kFailed with
// the reason (refused, unreachable), kTimedOut when the time passed first.
SocketWait AwaitConnect(SocketHandle socket, int timeoutMs, SocketError& error);

}  // namespace netsocket
