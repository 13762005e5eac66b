// lctrovi monitor: the main window's display lines on standard output, and its NMEA log.
#include <csignal>
#include <cstdio>
#include <string>

#include "base/Clock.h"
#include "base/Timeutils.h"
#include "cli/Commands.h"
#include "cli/Session.h"
#include "proto/Messages.h"
#include "proto/Sentences.h"

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

constexpr int32_t kReadSliceMs = 100;
constexpr int64_t kSilenceLimitMs = 5000;
constexpr int64_t kMaxSeconds = 1'000'000'000;
constexpr const char* kLogLineEnd = "\r\n";  // NMEA's own line end, whichever system wrote the log

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

// The NMEA log as File, Logging writes it: each shown sentence, CR LF, flushed per line. A
// failed write is reported once and logging stops; the display goes on.
class NmeaLog {
  public:
    ~NmeaLog() { Close(); }
    bool Open(const std::string& name) {
        name_ = name;
        file_ = std::fopen(name.c_str(), "wb");
        if (file_ == nullptr) {
            std::fprintf(stderr, "Error opening log file %s\n", name.c_str());
        }
        return file_ != nullptr;
    }
    void Write(const std::string& sentence) {
        if (file_ == nullptr) {
            return;
        }
        // By length: a sentence may hold a NUL byte, and the log keeps every byte as received.
        if (std::fwrite(sentence.data(), 1, sentence.size(), file_) != sentence.size() ||
            std::fputs(kLogLineEnd, file_) < 0 || std::fflush(file_) != 0) {
            std::fprintf(stderr, "Error writing log file %s. Logging has stopped.\n", name_.c_str());
            Close();
        }
    }

  private:
    void Close() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    std::FILE* file_ = nullptr;
    std::string name_;
};

void ShowLine(std::string text) {
    // A NUL would cut the printed line short: print it as U+FFFD, as the main window shows it.
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) {
        text.replace(at, 1, "\xEF\xBF\xBD");
    }
    std::printf("%s: %s\n", NowText().c_str(), text.c_str());
    std::fflush(stdout);
}
}  // namespace

int RunMonitor(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud", "--log", "--seconds"}, {}, kMonitorHelp, parsed,
                         status)) {
        return status;
    }
    const auto endpoint = ReadEndpoint(parsed);
    std::optional<int64_t> seconds;
    if (const auto text = parsed.Value("--seconds")) {
        seconds = ParseInteger(*text, 1, kMaxSeconds);
        if (!seconds) {
            std::fprintf(stderr, "lctrovi: invalid number of seconds %s\n", text->c_str());
            return kExitUsage;
        }
    }
    if (!endpoint) {
        return kExitUsage;
    }
    Session session;
    NmeaLog log;
    if (!session.Open(*endpoint) || (parsed.Value("--log") && !log.Open(*parsed.Value("--log")))) {
        return kExitFailed;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    Clock& clock = CurrentClock();
    const int64_t start = clock.MonotonicMs();
    // Silence is the line's, not the display's: any byte counts, shown or not (other talkers,
    // a line without its CR LF).
    int64_t lastByte = start;
    uint64_t bytesSeen = 0;
    const auto onFrame = [&](const DiagProto& diag) {
        ShowLine("Proprietary ID " + std::to_string(diag.MessageData()[frame::kIdOffset]));
    };
    const auto onLine = [&](const CRLFProto& crlf) {
        if (!IsShownSentence(crlf.MessageData(), crlf.MessageLength())) {
            return;
        }
        const std::string text(reinterpret_cast<const char*>(crlf.MessageData()), crlf.MessageLength() - 2u);
        ShowLine(text);
        log.Write(text);
    };
    while (interrupted == 0 && (!seconds || clock.MonotonicMs() - start < *seconds * 1000)) {
        if (!session.Pump(kReadSliceMs, onFrame, onLine)) {
            std::fprintf(stderr, "Serial port lost: %s\n", session.Port().LastErrorText().c_str());
            return kExitFailed;
        }
        if (session.BytesReceived() != bytesSeen) {
            bytesSeen = session.BytesReceived();
            lastByte = clock.MonotonicMs();
        } else if (clock.MonotonicMs() - lastByte >= kSilenceLimitMs) {
            std::fprintf(stderr, "Nothing received on %s at %u baud for %lld seconds.\n",
                         session.Device().c_str(), session.Baud(),
                         static_cast<long long>(kSilenceLimitMs / 1000));
            return kExitFailed;
        }
    }
    return kExitOk;
}
