// A day at 5 Hz through lctrovi accuracy and lctrovi export: a recording of 432,000 fixes
// (six sentences and a binary message each, as FiveHertzRecording makes them), read by the
// built tool as a user runs it. Prints each command's wall time (target for accuracy: under
// 1 s), its CPU time and its peak resident memory (target: under 64 MiB).
// Usage: lct_bench_accuracy LCTROVI [SECONDS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FiveHertzRecording.h"

namespace {
namespace fs = std::filesystem;

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    int status = -1;
    std::string output;
};

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Runs the command with its standard output to `output`, and measures it.
Run Measure(const std::vector<std::string>& args, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    Run run;
    const double started = Now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wallSeconds = Now() - started;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(output);
    std::ostringstream text;
    text << in.rdbuf();
    run.output = text.str();
    return run;
}

void Print(const char* name, const Run& run) {
    std::printf("%-22s wall %6.3f s  cpu %6.3f s  peak memory %6.1f MiB  exit %d\n", name, run.wallSeconds,
                run.cpuSeconds, static_cast<double>(run.peakKiB) / 1024.0, run.status);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s LCTROVI [SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string lctrovi = argv[1];
    const uint64_t seconds = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 86'400;
    const fs::path dir = fs::temp_directory_path() / ("lct-bench-accuracy-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string recording = (dir / "day.rec").string();
    const FiveHertzRecording made = WriteFiveHertzRecording(recording, seconds);
    std::printf("recording: %llu fixes, %.1f MiB\n", static_cast<unsigned long long>(made.fixes),
                static_cast<double>(fs::file_size(recording)) / (1024.0 * 1024.0));

    const Run accuracy = Measure({lctrovi, "accuracy", recording, "--json"}, (dir / "accuracy.txt").string());
    Print("accuracy --json", accuracy);
    std::printf("  %s", accuracy.output.c_str());
    const Run reference = Measure({lctrovi, "accuracy", recording, "--reference", "48.1209,11.5168,566"},
                                  (dir / "reference.txt").string());
    Print("accuracy --reference", reference);
    for (const char* format : {"gpx", "kml", "csv"}) {
        const std::string out = (dir / (std::string("day.") + format)).string();
        const Run exported =
            Measure({lctrovi, "export", recording, "--out", out}, (dir / "export.txt").string());
        Print((std::string("export ") + format).c_str(), exported);
        std::printf("  %.1f MiB written\n", static_cast<double>(fs::file_size(out)) / (1024.0 * 1024.0));
    }
    fs::remove_all(dir);
    return 0;
}
