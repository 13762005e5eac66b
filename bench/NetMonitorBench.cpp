// The receive side's CPU per megabyte: 16 MiB of bytes (every 0xFF among them doubled on the
// network) read through the line as the monitor reads, once from a pseudo-terminal directly
// and once through Debian's ser2net (RFC 2217) serving that pseudo-terminal. Prints the
// reading thread's CPU time per MiB and the throughput of each.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/Anyline.h"
#include "support/PtyPair.h"
#include "support/Ser2net.h"

namespace {

constexpr size_t kBytes = size_t{16} << 20;
constexpr int kReadWaitMs = 100;  // the monitor's receive tick
constexpr double kGiveUpSeconds = 120;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A read whose wait ended without a byte; no failure of the line.
bool IsTimeout(const AnyLine& port) {
    return port.LastErrorCode() == static_cast<uint32_t>(ETIMEDOUT);
}

struct Figures {
    size_t received = 0;
    double cpu = 0;
    double wall = 0;
};

// The far end writes the stream into the master while this thread reads it at `device`.
Figures ReadStream(const PtyPair& pty, const std::string& device, const std::vector<uint8_t>& stream) {
    Figures figures;
    AnyLine port;
    if (!port.Open(device, 115200)) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), port.LastErrorText().c_str());
        return figures;
    }
    std::thread writer([&] {
        for (size_t at = 0; at < stream.size();) {
            const ssize_t n =
                ::write(pty.Master(), stream.data() + at, std::min<size_t>(4096, stream.size() - at));
            if (n <= 0) {
                return;
            }
            at += static_cast<size_t>(n);
        }
    });
    std::vector<uint8_t> buffer(4096);
    const double cpu0 = ThreadCpuSeconds();
    const double start = Now();
    while (figures.received < stream.size() && Now() - start < kGiveUpSeconds) {
        uint32_t got = 0;
        if (!port.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got, kReadWaitMs) && got == 0 &&
            !IsTimeout(port)) {
            break;
        }
        figures.received += got;
    }
    figures.wall = Now() - start;
    figures.cpu = ThreadCpuSeconds() - cpu0;
    port.Close();
    writer.join();
    return figures;
}

void Print(const char* name, const Figures& f) {
    const double mib = static_cast<double>(f.received) / (1 << 20);
    std::printf("%-28s %6.2f MiB in %6.2f s = %7.2f MiB/s, CPU %7.1f ms per MiB\n", name, mib, f.wall,
                f.wall > 0 ? mib / f.wall : 0.0, mib > 0 ? 1000.0 * f.cpu / mib : 0.0);
}

}  // namespace

int main() {
    std::mt19937 rng(11);
    std::vector<uint8_t> stream(kBytes);
    for (auto& b : stream) {
        b = static_cast<uint8_t>(rng());
    }
    PtyPair local;
    const Figures direct = ReadStream(local, local.SlavePath(), stream);
    Print("pseudo-terminal directly:", direct);

    PtyPair served;
    Ser2net server;
    if (Ser2net::Program().empty() || !server.Start(served.SlavePath())) {
        std::printf("through ser2net: not run (%s)\n", server.LastError().c_str());
        return 0;
    }
    const Figures network = ReadStream(served, server.Address(), stream);
    Print("through ser2net (rfc2217):", network);
    if (direct.received > 0 && network.received > 0) {
        std::printf("CPU per MiB, network / local: %.2f\n",
                    (network.cpu / network.received) / (direct.cpu / direct.received));
    }
    return direct.received == kBytes && network.received == kBytes ? 0 : 1;
}
