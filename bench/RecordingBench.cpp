// The recorder and the replay without windows. Prints:
//  - the recorder's CPU time as a share of the line time, for an hour of a 115200-baud line
//    read as the window reads it (what arrived in each 100 ms tick) and in small reads;
//  - how closely a replay at the recorded pace keeps time: a recording of 5 Hz fixes played
//    by the simulator onto a pseudo-terminal and read there, each chunk's arrival against its
//    recorded time.
// Usage: lct_bench_recording [SECONDS_OF_PACED_REPLAY]
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FiveHertzRecording.h"
#include "base/Clock.h"
#include "record/Recordingfile.h"
#include "sim/Simreplay.h"

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("lct-bench-") + std::to_string(getpid()) + name))
        .string();
}

// An hour of a full 115200-baud line (11520 bytes a second) recorded in reads of readSize.
void RecorderCost(size_t readSize) {
    constexpr uint64_t kLineSeconds = 3600;
    constexpr uint64_t kBytesPerSecond = 11520;
    const std::string path = TempPath("-cost.rec");
    std::vector<uint8_t> data(readSize, 'x');
    RecordingFile file;
    const double start = ProcessCpuSeconds();
    file.Open(path, {115200, 0, "bench"}, 0);
    const uint64_t reads = kLineSeconds * kBytesPerSecond / readSize;
    for (uint64_t i = 0; i < reads; ++i) {
        const auto now = static_cast<int64_t>(i * readSize * 1'000'000 / kBytesPerSecond);
        file.Add(now, data.data(), data.size());
    }
    file.Close();
    const double cpu = ProcessCpuSeconds() - start;
    std::printf(
        "recorder at 115200 baud, reads of %4zu bytes: %.3f s CPU for %llu s of line = %.4f %% CPU, "
        "file %.1f MB\n",
        readSize, cpu, static_cast<unsigned long long>(kLineSeconds), 100.0 * cpu / kLineSeconds,
        static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    std::filesystem::remove(path);
}

// Plays a recording at its recorded pace onto a pty and measures when each byte arrives.
void PacedReplay(uint64_t seconds) {
    const std::string path = TempPath("-paced.rec");
    WriteFiveHertzRecording(path, seconds);
    std::vector<uint64_t> ends;  // the recorded time at which each chunk's last byte is in
    std::vector<uint64_t> sizes;
    {
        InputFile in(path);
        FileSource source(in.Get());
        RecordingReader reader(source);
        reader.Start();
        uint64_t total = 0;
        for (RecordingChunk chunk; reader.Next(chunk);) {
            total += chunk.size;
            ends.push_back(chunk.timeUs);
            sizes.push_back(total);
        }
    }
    SimReplay replay(path, 0);
    if (!replay.Start()) {
        std::printf("cannot start the replay: %s\n", replay.LastError().c_str());
        return;
    }
    // Read with a bare poll() and read(): the serial layer waits for the line to go quiet
    // before it returns, which would be measured as the replay's lateness.
    const int fd = ::open(replay.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::printf("cannot open %s\n", replay.DevicePath().c_str());
        return;
    }
    Clock& clock = CurrentClock();
    const int64_t opened = clock.MonotonicUs();
    uint64_t received = 0;
    size_t next = 0;
    std::vector<double> lagsMs;
    uint8_t buffer[4096];
    while (next < ends.size() &&
           clock.MonotonicUs() - opened < static_cast<int64_t>(seconds + 5) * 1'000'000) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        const int64_t now = clock.MonotonicUs() - opened;
        received += n > 0 ? static_cast<uint64_t>(n) : 0;
        while (next < ends.size() && sizes[next] <= received) {
            lagsMs.push_back(static_cast<double>(now - static_cast<int64_t>(ends[next])) / 1000.0);
            ++next;
        }
    }
    ::close(fd);
    replay.Stop();
    std::filesystem::remove(path);
    if (lagsMs.empty()) {
        std::printf("paced replay: nothing arrived\n");
        return;
    }
    // The replay starts its clock when the port opens; what is constant is the open's own
    // latency, so the spread about the median is the pacing error.
    std::vector<double> sorted = lagsMs;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::vector<double> departures;
    for (const double lag : lagsMs) {
        departures.push_back(std::fabs(lag - median));
    }
    std::sort(departures.begin(), departures.end());
    const auto within5 = std::upper_bound(departures.begin(), departures.end(), 5.0) - departures.begin();
    std::printf(
        "paced replay of %llu s at 5 Hz: %zu of %zu chunks arrived, a median %.2f ms after their recorded "
        "time (the wait for the open); departure from it: median %.2f ms, 99th percentile %.2f ms, "
        "largest %.2f ms; %.1f %% within 5 ms\n",
        static_cast<unsigned long long>(seconds), lagsMs.size(), ends.size(), median,
        departures[departures.size() / 2], departures[departures.size() * 99 / 100], departures.back(),
        100.0 * static_cast<double>(within5) / static_cast<double>(departures.size()));
}
}  // namespace

int main(int argc, char** argv) {
    const uint64_t seconds = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10;
    RecorderCost(1152);  // what a 100 ms tick of the window finds waiting
    RecorderCost(16);    // a reader that wakes for every few bytes
    PacedReplay(seconds);
    return 0;
}
