#include "cli/Receivedlines.h"

#include <csignal>
#include <cstdio>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "link/Receivepath.h"
#include "recplay/Recordinglines.h"

namespace {

constexpr int32_t kReadSliceMs = 100;
constexpr int64_t kSilenceLimitMs = 5000;

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
    Clock& clock = CurrentClock();
    const int64_t start = clock.MonotonicMs();
    int64_t lastByte = start;
    uint64_t bytesSeen = 0;
    const auto ignoreFrame = [](const DiagProto& /*frame*/) {};
    const auto takeLine = [&](const CRLFProto& crlf) {
        onLine(LineOf(crlf), {session.ReceivedAtUs(), true});
    };
    while (interrupted == 0 && (!seconds || clock.MonotonicMs() - start < *seconds * 1000)) {
        if (!session.Pump(kReadSliceMs, ignoreFrame, takeLine)) {
            std::fprintf(stderr, "Serial port lost: %s\n", session.Port().LastErrorText().c_str());
            return kExitFailed;
        }
        if (session.BytesReceived() != bytesSeen) {
            bytesSeen = session.BytesReceived();
            lastByte = clock.MonotonicMs();
        } else if (clock.MonotonicMs() - lastByte >= kSilenceLimitMs) {
            std::fprintf(stderr, "Nothing received on %s at %s for %lld seconds.\n", session.Device().c_str(),
                         session.RateText().c_str(), static_cast<long long>(kSilenceLimitMs / 1000));
            return kExitFailed;
        }
    }
    return kExitOk;
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
