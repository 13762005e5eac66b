#include "cli/Receivedlines.h"

#include <csignal>
#include <cstdio>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "link/Receivepath.h"
#include "recplay/Recordinglines.h"

namespace {

constexpr int32_t kReadSliceMs = 100;

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

std::string_view LineOf(const CRLFProto& crlf) {
    return {reinterpret_cast<const char*>(crlf.MessageData()), crlf.MessageLength()};
}

}  // namespace

int ReceiveLiveLines(Session& session, std::optional<int64_t> seconds, const LineHandler& onLine) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    return session.ReceiveFor(
        seconds, [] { return interrupted != 0; }, [](const DiagProto& /*frame*/) {},
        [&](const CRLFProto& crlf) {
            onLine(LineOf(crlf), {session.ReceivedAtUs(), true});
        });
}

int ReadFileLines(const std::string& path, uint32_t plainBaud, const LineHandler& onLine) {
    const RecordingLinesRead read =
        ReadRecordingLines(path, plainBaud, [&](std::string_view line, int64_t timeUs, bool wallClock) {
            onLine(line, {timeUs, wallClock});
        });
    if (!read.opened) {
        std::fprintf(stderr, "Cannot read %s: %s\n", path.c_str(), read.error.c_str());
        return kExitFailed;
    }
    if (!read.problem.empty()) {
        std::fprintf(stderr, "Reading stopped: %s: %s\n", path.c_str(), read.problem.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
