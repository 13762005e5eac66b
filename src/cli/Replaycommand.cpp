// lctrovi replay: a recording shown and logged as monitor shows and logs a live receiver.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/Clock.h"
#include "base/Timeutils.h"
#include "cli/Commands.h"
#include "cli/Monitoroutput.h"
#include "link/Receivepath.h"
#include "link/Replayline.h"

namespace {
const char* const kReplayHelp =
    "Usage: lctrovi replay FILE [--speed N|max] [--baud B] [--log FILE]\n"
    "Play a recording made by lctrovi record or File, Record... and print what monitor printed\n"
    "live, each line stamped with the time it was received. A file that is not a recording (a\n"
    "raw capture) is played as plain bytes at the line rate --baud gives. A damaged or cut\n"
    "recording is played up to where it stops being sound, which is then reported; exit status 1.\n"
    "\n"
    "  --speed N      N times the recorded pace (default 1); max: as fast as possible\n"
    "  --baud B       play a file that is not a recording as bytes arriving at B baud\n"
    "  --log FILE     also write the shown sentences to FILE, as File, Logging does\n"
    "  --help         show this help and exit\n";

constexpr double kMaxSpeed = 1000.0;
constexpr int32_t kWaitSliceMs = 100;  // an interrupt is seen at least this often

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

// "max", or a number of times the recorded pace above 0 and up to 1000.
bool ParseSpeed(const std::string& text, double& speed) {
    if (text == "max") {
        speed = ReplayPacer::kAsFastAsPossible;
        return true;
    }
    char* end = nullptr;
    speed = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && speed > 0 && speed <= kMaxSpeed;
}

}  // namespace

int RunReplay(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--speed", "--baud", "--log"}, {}, kReplayHelp, parsed, status)) {
        return status;
    }
    if (parsed.words.size() != 1) {
        std::fprintf(stderr, "lctrovi: replay needs one FILE\n%s", kReplayHelp);
        return kExitUsage;
    }
    double speed = 1.0;
    if (const auto text = parsed.Value("--speed"); text && !ParseSpeed(*text, speed)) {
        std::fprintf(stderr, "lctrovi: invalid speed %s (a number up to 1000, or max)\n", text->c_str());
        return kExitUsage;
    }
    uint32_t plainBaud = 0;
    if (const auto text = parsed.Value("--baud")) {
        const auto baud = ParseInteger(*text, 300, 4'000'000);
        if (!baud) {
            std::fprintf(stderr, "lctrovi: invalid baud rate %s\n", text->c_str());
            return kExitUsage;
        }
        plainBaud = static_cast<uint32_t>(*baud);
    }
    const std::string& path = parsed.words.front();
    Clock& clock = CurrentClock();
    ReplayLine line(clock);
    line.SetSpeed(speed);
    if (!line.Open(path, plainBaud)) {
        std::fprintf(stderr, "Cannot replay %s: %s\n", path.c_str(), line.LastErrorText().c_str());
        return kExitFailed;
    }
    NmeaLog log;
    if (parsed.Value("--log") && !log.Open(*parsed.Value("--log"))) {
        return kExitFailed;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    // Lines are stamped with the time they were received; a plain capture has no such time
    // and counts from the moment the replay starts.
    ReceivePath receive;
    const MonitorDisplay display{
        log, [&] { return TimeText(static_cast<std::time_t>(receive.TimeUs() / 1'000'000)); }};
    ReceivePath::Result result = ReceivePath::Result::kNothing;
    while (interrupted == 0 && result != ReceivePath::Result::kEnded &&
           result != ReceivePath::Result::kLost) {
        result = receive.Pump(
            line, kWaitSliceMs, [&](const DiagProto& d) { display.Frame(d); },
            [&](const CRLFProto& c) { display.Line(c); });
    }
    if (const std::string problem = line.Problem(); !problem.empty()) {
        std::fprintf(stderr, "Replay stopped: %s: %s\n", path.c_str(), problem.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
