#include "cli/Receivedlines.h"

#include <csignal>
#include <cstdio>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "link/Receivepath.h"
#include "link/Replayline.h"

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

// The file is a replay played as fast as possible through the receive path.
int ReadFileLines(const std::string& path, uint32_t plainBaud, const LineHandler& onLine) {
    ReplayLine line(CurrentClock());
    line.SetSpeed(ReplayPacer::kAsFastAsPossible);
    if (!line.Open(path, plainBaud)) {
        std::fprintf(stderr, "Cannot read %s: %s\n", path.c_str(), line.LastErrorText().c_str());
        return kExitFailed;
    }
    // A plain capture's times count from its first byte and name no date.
    const bool utc = !line.PlainBytes();
    const int64_t originUs = utc ? 0 : line.StartUnixUs();
    ReceivePath receive;
    const auto takeLine = [&](const CRLFProto& crlf) {
        onLine(LineOf(crlf), {receive.TimeUs() - originUs, utc});
    };
    ReceivePath::Result result = ReceivePath::Result::kData;
    while (result != ReceivePath::Result::kEnded && result != ReceivePath::Result::kLost) {
        result = receive.Pump(
            line, kReadSliceMs, [](const DiagProto& /*frame*/) {}, takeLine);
    }
    if (const std::string problem = line.Problem(); !problem.empty()) {
        std::fprintf(stderr, "Reading stopped: %s: %s\n", path.c_str(), problem.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
