// A whole software load of a 64 KiB image into the simulated receiver at 57600 baud, through
// the programming sequence the loading window drives and the real serial layer. Prints
// (a) the block transfer's image bytes per second against the stop-and-wait limit of the
// line, 256 / ((272 + 272) x 10 / 57600) = 2711 B/s, (b) the whole load's wall time and
// (c) the program's CPU time as a share of wall time; then (d) the same load through Debian's
// ser2net (RFC 2217) in front of the same simulator, its block rate against the pty's.
//
// The simulator runs as a process of its own and paces its replies at the line rate; this
// side paces its commands the same way (a pseudo-terminal would carry them at once), so the
// limit applies as on a real line. Usage: lct_bench_load LCTROVI_SIM [SIMULATOR OPTIONS...]
// (for instance --record FILE to keep the simulator's record of the line).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "link/Anyline.h"
#include "loader/Loadsequence.h"
#include "loader/Portreopen.h"
#include "loader/Srec.h"
#include "support/Ser2net.h"

namespace {

constexpr uint32_t kImageBytes = 64 * 1024;
constexpr uint32_t kLowest = 0x00040000;
constexpr double kLimitBytesPerSecond = 256.0 / ((272.0 + 272.0) * 10.0 / 57600.0);

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string S3Line(uint32_t address, const uint8_t* data, size_t n) {
    char text[128];
    unsigned sum = static_cast<unsigned>(n + 5);
    int at = std::snprintf(text, sizeof text, "S3%02X%08X", static_cast<unsigned>(n + 5), address);
    for (int shift = 0; shift < 32; shift += 8) {
        sum += (address >> shift) & 0xFF;
    }
    for (size_t i = 0; i < n; ++i) {
        at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), "%02X", data[i]);
        sum += data[i];
    }
    std::snprintf(text + at, sizeof text - static_cast<size_t>(at), "%02X\r\n", ~sum & 0xFF);
    return text;
}

// The serial port with the line's pace on writes.
class PacedPort final : public LoaderPort {
  public:
    explicit PacedPort(AnyLine& port) : port_(port), inner_(port) {}
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override {
        return inner_.Read(buffer, capacity, received, waitMs);
    }
    // The far end has a frame once its last byte has crossed the line: wait for that first.
    bool Write(const uint8_t* buffer, uint32_t count) override {
        std::this_thread::sleep_for(std::chrono::microseconds(int64_t{count} * 10 * 1'000'000 / baud));
        return port_.Write(buffer, count);
    }
    bool IsOpen() const override { return port_.IsOpen(); }
    std::string LastErrorText() const override { return port_.LastErrorText(); }
    uint32_t baud = 19200;

  private:
    AnyLine& port_;
    LoaderPortAdapter<AnyLine> inner_;
};

class BenchHost final : public LoaderHost {
  public:
    BenchHost(std::string device, int simInput) : device_(std::move(device)), simInput_(simInput) {}
    bool Open() { return serial_.Open(device_, 19200, 0); }
    LoaderPort& Port() override { return port_; }
    void ShowStatus(const std::string& text) override {
        if (text.rfind("Sending File...", 0) == 0 && sendStart == 0) {
            sendStart = Now();
        }
        if (text == "Request CRC check." && sendEnd == 0 && sendStart != 0) {
            sendEnd = Now();
        }
        last = text;
    }
    // As the loading window reopens: after the last command has had time to leave.
    bool ReopenPort(uint32_t baud) override {
        if (!ReopenPortAt(serial_, device_, static_cast<int32_t>(port_.baud), baud, CurrentClock())) {
            return false;
        }
        port_.baud = baud;
        return true;
    }
    uint32_t CurrentBaud() const override { return port_.baud; }
    void RequestVersion() override {
        const uint8_t request[] = {0x02, 0x99, 0x66, 0x10, 0x08, 0x00, 0xD8, 0x06, 0x00, 0x00, 0xC6, 0x03};
        serial_.Write(request, sizeof request);
    }
    void UpdateVersionLabel(const ReceiverVersion& /*version*/) override {}
    void ShowPanel(const std::array<std::string, 3>& /*lines*/, PanelColour colour) override {
        if (colour == PanelColour::kBlue) {
            const char power[] = "power\n";  // the user cycles the receiver's power
            (void)!::write(simInput_, power, sizeof power - 1);
        }
    }
    void EndSequence() override {
        if (port_.baud != 19200) {
            ReopenPort(19200);
        }
    }

    double sendStart = 0;
    double sendEnd = 0;
    std::string last;

  private:
    std::string device_;
    int simInput_;
    AnyLine serial_;
    PacedPort port_{serial_};
};

constexpr const char* kDone = "Communication Re-established. Ver # Rcvd.";

struct LoadRun {
    double sendStart = 0;
    double sendEnd = 0;
    double wall = 0;
    double cpu = 0;
    std::string last = "cannot open the device";
    double BlockRate() const { return sendEnd > sendStart ? kImageBytes / (sendEnd - sendStart) : 0; }
};

// One whole load at the device (a path, or a network address).
LoadRun RunLoad(const std::string& device, const std::string& image, int simInput) {
    LoadRun run;
    BenchHost host(device, simInput);
    if (!host.Open()) {
        std::fprintf(stderr, "cannot open %s\n", device.c_str());
        return run;
    }
    LoadSequence sequence(host);
    sequence.Start(std::fopen(image.c_str(), "rb"));
    const double cpu0 = ThreadCpuSeconds();
    const double start = Now();
    while (sequence.Running()) {
        sequence.Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the window's 1 ms timer
    }
    run.wall = Now() - start;
    run.cpu = ThreadCpuSeconds() - cpu0;
    run.sendStart = host.sendStart;
    run.sendEnd = host.sendEnd;
    run.last = host.last;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lct_bench_load LCTROVI_SIM [SIMULATOR OPTIONS...]\n");
        return 2;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lct-load-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string device = dir / "receiver";
    const std::string image = dir / "image.hex";
    {
        std::mt19937 rng(7);
        std::vector<uint8_t> data(kImageBytes);
        for (auto& b : data) {
            b = static_cast<uint8_t>(rng());
        }
        std::ofstream out(image, std::ios::binary);
        for (uint32_t at = 0; at < kImageBytes; at += 32) {
            out << S3Line(kLowest + at, data.data() + at, 32);
        }
        out << "S70500000000FA\r\n";
    }

    int toSim[2];
    if (pipe(toSim) != 0) {
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toSim[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, toSim[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {argv[1], "--link",      device, "--power-cycle-after",
                                     "0",     "--nmea-mask", "0"};
    args.insert(args.end(), argv + 2, argv + argc);
    std::vector<char*> argvSim;
    argvSim.reserve(args.size() + 1);
    for (auto& a : args) {
        argvSim.push_back(a.data());
    }
    argvSim.push_back(nullptr);
    pid_t sim = 0;
    if (posix_spawn(&sim, argv[1], &actions, nullptr, argvSim.data(), environ) != 0) {
        std::perror("lctrovi-sim");
        return 1;
    }
    close(toSim[0]);
    for (int i = 0; i < 100 && !std::filesystem::exists(device); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const LoadRun local = RunLoad(device, image, toSim[1]);
    // The same load again, through Debian's ser2net in front of the same simulator.
    Ser2net server;
    LoadRun served;
    const bool serving =
        !Ser2net::Program().empty() && server.Start(std::filesystem::canonical(device).string());
    if (serving) {
        served = RunLoad(server.Address(), image, toSim[1]);
        server.Kill();
    }

    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(dir);

    const double rate = local.BlockRate();
    std::printf("final status: %s\n", local.last.c_str());
    std::printf(
        "(a) block transfer: %u bytes in %.2f s = %.0f B/s, %.1f %% of the %.0f B/s stop-and-wait limit\n",
        kImageBytes, local.sendEnd - local.sendStart, rate, 100.0 * rate / kLimitBytesPerSecond,
        kLimitBytesPerSecond);
    std::printf("(b) whole load: %.1f s wall\n", local.wall);
    std::printf("(c) program CPU: %.2f s = %.2f %% of wall time\n", local.cpu,
                100.0 * local.cpu / local.wall);
    if (serving) {
        std::printf("(d) through ser2net (rfc2217): final status: %s\n", served.last.c_str());
        std::printf("    block transfer %.0f B/s = %.3f of the pty's rate; whole load %.1f s; CPU %.2f s\n",
                    served.BlockRate(), rate > 0 ? served.BlockRate() / rate : 0.0, served.wall, served.cpu);
    } else {
        std::printf("(d) through ser2net: not run (%s)\n",
                    Ser2net::Program().empty() ? "ser2net is not installed" : server.LastError().c_str());
    }
    const bool servedOk = !serving || served.last == kDone;
    return local.last == kDone && servedOk ? 0 : 1;
}
