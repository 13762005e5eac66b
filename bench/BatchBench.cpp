// A batch of software loads through lctrovi: the same image into one simulated receiver alone
// and into eight at once, in the same run, and into eight of which two fail at different
// steps (one stops answering the blocks, one vanishes amid them). Prints for each the wall
// time of the whole command against the single load (target: at most 1.15 times), the
// tool's CPU time as a share of one core over the batch (target: under 5 %), and its peak
// resident memory.
//
// Each receiver is an lctrovi-sim process of its own at its real line pacing, so the line,
// not the tool, bounds each load; the image is 16 KiB to keep the run short.
// Usage: lct_bench_batch LCTROVI LCTROVI_SIM
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;

constexpr uint32_t kImageBytes = 16 * 1024;
constexpr uint32_t kLowest = 0x00040000;
constexpr int kBatch = 8;

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

void WriteImage(const std::string& path) {
    std::mt19937 random(7);
    std::vector<uint8_t> data(kImageBytes);
    for (uint8_t& byte : data) {
        byte = static_cast<uint8_t>(random());
    }
    std::ofstream out(path, std::ios::binary);
    for (uint32_t at = 0; at < kImageBytes; at += 32) {
        out << S3Line(kLowest + at, data.data() + at, 32);
    }
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The simulated receivers of one batch, each a process; ended by their ids.
class Receivers {
  public:
    Receivers(const std::string& sim, const fs::path& dir,
              const std::vector<std::vector<std::string>>& faults) {
        for (size_t i = 0; i < faults.size(); ++i) {
            const std::string link = (dir / ("receiver" + std::to_string(i))).string();
            fs::remove(link);
            // No X1F_WORKING during the 1 s of programming (each would hold the sequence 2 s), and
            // the power cycle well after the check of the programmed image.
            std::vector<std::string> args = {sim,    "--link",
                                             link,   "--program-time",
                                             "1000", "--working-interval",
                                             "2000", "--power-cycle-after",
                                             "10000"};
            args.insert(args.end(), faults[i].begin(), faults[i].end());
            pids_.push_back(Spawn(args, "/dev/null"));
            links_.push_back(link);
        }
        for (const std::string& link : links_) {
            for (int tries = 0; tries < 100 && !fs::exists(link); ++tries) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }
    ~Receivers() {
        for (const pid_t pid : pids_) {
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
    }
    Receivers(const Receivers&) = delete;
    Receivers& operator=(const Receivers&) = delete;
    const std::vector<std::string>& Links() const { return links_; }

  private:
    std::vector<pid_t> pids_;
    std::vector<std::string> links_;
};

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    int status = -1;
    std::string table;
};

Run LoadAll(const std::string& tool, const std::string& image, const std::vector<std::string>& devices,
            const fs::path& dir) {
    std::vector<std::string> args = {tool, "load", image};
    for (const std::string& device : devices) {
        args.insert(args.end(), {"--device", device});
    }
    const std::string output = (dir / "out.txt").string();
    Run run;
    const double started = Now();
    const pid_t pid = Spawn(args, output);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wallSeconds = Now() - started;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(output);
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        inTable = inTable || line.rfind("DEVICE ", 0) == 0;
        if (inTable || line.find("Receiver version") != std::string::npos) {
            run.table += "    " + line + "\n";
        }
    }
    return run;
}

void Report(const char* name, const Run& run, const Run& single) {
    std::printf(
        "%s: exit status %d, wall %.1f s (%.3f x the single load), tool CPU %.2f s = %.2f %% of one core, "
        "peak resident %ld KiB\n%s",
        name, run.status, run.wallSeconds, run.wallSeconds / single.wallSeconds, run.cpuSeconds,
        100.0 * run.cpuSeconds / run.wallSeconds, run.peakKiB, run.table.c_str());
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: lct_bench_batch LCTROVI LCTROVI_SIM\n");
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("lct-bench-batch-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string image = (dir / "image.hex").string();
    WriteImage(image);

    Run single;
    {
        const Receivers one(argv[2], dir, {{}});
        single = LoadAll(argv[1], image, one.Links(), dir);
    }
    Report("1 receiver alone", single, single);
    {
        const Receivers eight(argv[2], dir, std::vector<std::vector<std::string>>(kBatch));
        Report("8 receivers at once", LoadAll(argv[1], image, eight.Links(), dir), single);
    }
    {
        std::vector<std::vector<std::string>> faults(kBatch);
        faults[2] = {"--no-reply-x1f", "2"};         // stops answering the blocks
        faults[5] = {"--vanish-after-loads", "20"};  // gone amid the blocks
        const Receivers eight(argv[2], dir, faults);
        Report("8 receivers, 2 failing (no reply, vanished)", LoadAll(argv[1], image, eight.Links(), dir),
               single);
    }
    fs::remove_all(dir);
    return 0;
}
