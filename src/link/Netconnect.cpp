// The connect of a network line, the same on every platform: a name lookup that cannot
// hold the caller longer than its bound, then each resolved address in turn within one
// bound for all, every wait cut into slices at which the caller may cancel.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/Netsocket.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a wait looks at the cancel check.
constexpr int kSliceMs = 50;

// A lookup's result, shared by the thread that runs it and the connect that waits for it:
// whichever of the two ends last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ok = false;
    std::vector<netsocket::Address> addresses;
    SocketError error;
};

int MsUntil(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 0));
}

bool IsCancelled(const CancelCheck& cancelled) {
    return cancelled && cancelled();
}

// Runs the blocking lookup on a detached thread and waits for it at most lookupMs.
bool ResolveBounded(const std::string& host, const std::string& port, int lookupMs,
                    const CancelCheck& cancelled, std::vector<netsocket::Address>& found,
                    SocketError& error) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] {
            std::vector<netsocket::Address> addresses;
            SocketError lookupError;
            const bool ok = netsocket::Resolve(host, port, addresses, lookupError);
            const std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->ok = ok;
            lookup->addresses = std::move(addresses);
            lookup->error = std::move(lookupError);
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error& failure) {
        error = {static_cast<uint32_t>(failure.code().value()), host + ": " + failure.what()};
        return false;
    }
    const auto end = Clock::now() + milliseconds(lookupMs);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->done) {
        if (IsCancelled(cancelled)) {
            error = CancelledError();
            return false;
        }
        if (Clock::now() >= end) {
            error = {TimeoutError().code,
                     host + ": no answer from the name lookup within " + SecondsText(lookupMs)};
            return false;
        }
        lookup->finished.wait_for(lock, milliseconds(std::min(kSliceMs, MsUntil(end))));
    }
    found = std::move(lookup->addresses);
    error = lookup->error;
    return lookup->ok;
}

// Connects one address within its share of the time.
bool ConnectOne(const netsocket::Address& address, Clock::time_point end, const CancelCheck& cancelled,
                SocketHandle& socket, SocketError& error) {
    if (!netsocket::BeginConnect(address, socket, error)) {
        return false;
    }
    for (;;) {
        const SocketWait waited = netsocket::AwaitConnect(socket, std::min(kSliceMs, MsUntil(end)), error);
        if (waited == SocketWait::kReady) {
            return true;
        }
        if (waited == SocketWait::kTimedOut && IsCancelled(cancelled)) {
            error = CancelledError();
        } else if (waited == SocketWait::kTimedOut && Clock::now() >= end) {
            error = TimeoutError();
        } else if (waited == SocketWait::kTimedOut) {
            continue;
        }
        CloseSocket(socket);
        return false;
    }
}

}  // namespace

std::string SecondsText(int ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 >= 100) {
        text += '.';
        text += std::to_string(ms % 1000 / 100);
    }
    return text + " s";
}

bool ConnectSocket(const std::string& host, const std::string& port, int lookupMs, int connectMs,
                   const CancelCheck& cancelled, SocketHandle& socket, SocketError& error) {
    std::vector<netsocket::Address> addresses;
    if (!netsocket::StartSockets(error) ||
        !ResolveBounded(host, port, lookupMs, cancelled, addresses, error)) {
        return false;
    }
    if (addresses.empty()) {
        error = {TimeoutError().code, host + ": no address"};
        return false;
    }
    // The addresses share the time: one that never answers leaves the rest their turn, and
    // what a refusal leaves over passes on to the next.
    const auto end = Clock::now() + milliseconds(connectMs);
    for (size_t i = 0; i < addresses.size(); ++i) {
        const auto share = milliseconds(MsUntil(end) / static_cast<int>(addresses.size() - i));
        if (ConnectOne(addresses[i], Clock::now() + share, cancelled, socket, error)) {
            return true;
        }
        if (error.code == CancelledError().code) {
            return false;
        }
    }
    return false;
}
