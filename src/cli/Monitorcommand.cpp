// lctrovi monitor: the main window's display lines on standard output, and its NMEA log.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/Timeutils.h"
#include "cli/Commands.h"
#include "cli/Monitoroutput.h"
#include "cli/Session.h"
#include "recplay/Recordreplay.h"

namespace {
const char* const kMonitorHelp =
    "Usage: lctrovi monitor --device D [--baud B] [--log FILE] [--seconds N]\n"
    "Show what the receiver sends as the main window does: each NMEA sentence of the $GP and\n"
    "$PN talkers and \"Proprietary ID N\" for each binary message, after a time stamp. Runs\n"
    "until interrupted, or for N seconds. Exit status 1 when not a single byte arrives for\n"
    "five seconds, or the port is lost.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --log FILE     also write the shown sentences to FILE, as File, Logging does\n"
    "  --seconds N    stop after N seconds\n"
    "  --help         show this help and exit\n";

const char* const kRecordHelp =
    "Usage: lctrovi record --device D --out FILE [--baud B] [--log FILE] [--seconds N]\n"
    "Record every byte the receiver sends, as received, with its arrival time, to FILE (see\n"
    "docs/recording-format.md), and show and log what arrives as monitor does. Runs until\n"
    "interrupted, or for N seconds; what was recorded more than a second ago is on the disk\n"
    "even if the tool is killed. Exit status 1 when not a single byte arrives for five\n"
    "seconds, the port is lost, or FILE cannot be written.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --out FILE     the recording to write\n"
    "  --log FILE     also write the shown sentences to FILE, as File, Logging does\n"
    "  --seconds N    stop after N seconds\n"
    "  --help         show this help and exit\n";

constexpr int64_t kMaxSeconds = 1'000'000'000;

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

// Shows and logs what arrives until interrupted, for the given seconds, or until the line
// falls silent or is lost; records every byte as received when `recording` records.
int MonitorPort(Session& session, NmeaLog& log, std::optional<int64_t> seconds, RecordReplay* recording) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    // Lines are stamped with the time their bytes arrived, as a replay of the recording stamps them.
    const MonitorDisplay display{
        log, [&session] { return TimeText(static_cast<std::time_t>(session.ReceivedAtUs() / 1'000'000)); }};
    if (recording != nullptr) {
        session.SetReceiveTap([&](const uint8_t* bytes, size_t n, int64_t timeUs) {
            if (!recording->Record(bytes, n, timeUs)) {
                interrupted = 1;  // the caller reports why
            }
        });
    }
    const int status = session.ReceiveFor(
        seconds, [] { return interrupted != 0; }, [&](const DiagProto& diag) { display.Frame(diag); },
        [&](const CRLFProto& crlf) { display.Line(crlf); },
        [&] { return recording == nullptr || recording->Poll(); });  // the caller reports why
    if (status != kExitOk) {
        return status;
    }
    return interrupted != 0 && recording != nullptr && !recording->Recording() ? kExitFailed : kExitOk;
}

struct MonitorLine {
    std::optional<Endpoint> endpoint;
    std::optional<int64_t> seconds;
};

// Reads --device, --baud and --seconds; kExitOk or the status to end with.
int ReadMonitorLine(const CliArgs& parsed, MonitorLine& line) {
    line.endpoint = ReadEndpoint(parsed);
    if (const auto text = parsed.Value("--seconds")) {
        line.seconds = ParseInteger(*text, 1, kMaxSeconds);
        if (!line.seconds) {
            std::fprintf(stderr, "lctrovi: invalid number of seconds %s\n", text->c_str());
            return kExitUsage;
        }
    }
    return line.endpoint ? kExitOk : kExitUsage;
}
}  // namespace

int RunMonitor(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud", "--log", "--seconds"}, {}, kMonitorHelp, parsed,
                         status)) {
        return status;
    }
    MonitorLine line;
    if ((status = ReadMonitorLine(parsed, line)) != kExitOk) {
        return status;
    }
    Session session;
    NmeaLog log;
    if (!session.Open(*line.endpoint) || (parsed.Value("--log") && !log.Open(*parsed.Value("--log")))) {
        return kExitFailed;
    }
    return MonitorPort(session, log, line.seconds, nullptr);
}

int RunRecord(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud", "--out", "--log", "--seconds"}, {}, kRecordHelp, parsed,
                         status)) {
        return status;
    }
    MonitorLine line;
    if ((status = ReadMonitorLine(parsed, line)) != kExitOk) {
        return status;
    }
    const auto out = parsed.Value("--out");
    if (!out) {
        std::fprintf(stderr, "lctrovi: --out FILE is required\n%s", kRecordHelp);
        return kExitUsage;
    }
    Session session;
    NmeaLog log;
    if (!session.Open(*line.endpoint) || (parsed.Value("--log") && !log.Open(*parsed.Value("--log")))) {
        return kExitFailed;
    }
    RecordReplay recording(CurrentClock());
    if (!recording.StartRecording(*out, session.Device(), session.Baud())) {
        std::fprintf(stderr, "%s\n", recording.Error().c_str());
        return kExitFailed;
    }
    status = MonitorPort(session, log, line.seconds, &recording);
    const uint64_t elapsed = recording.RecordedUs();
    const uint64_t bytes = recording.RecordedBytes();
    // A recording that stopped by itself could not be written; Error says why.
    if (!recording.Recording() || !recording.StopRecording()) {
        std::fprintf(stderr, "%s\n", recording.Error().c_str());
        return kExitFailed;
    }
    std::fprintf(stderr, "Recorded %llu bytes in %s to %s\n", static_cast<unsigned long long>(bytes),
                 RecordingTimeText(elapsed).c_str(), out->c_str());
    return status;
}
