#include "recplay/Recordinglines.h"

#include "base/Clock.h"
#include "link/Receivepath.h"
#include "link/Replayline.h"

namespace {
constexpr int32_t kReadSliceMs = 100;
}  // namespace

RecordingLinesRead ReadRecordingLines(const std::string& path, uint32_t plainBaud,
                                      const RecordedLineHandler& onLine, const std::atomic<bool>* stop) {
    RecordingLinesRead read;
    ReplayLine line(CurrentClock());
    line.SetSpeed(ReplayPacer::kAsFastAsPossible);
    if (!line.Open(path, plainBaud)) {
        read.error = line.LastErrorText();
        read.needsLineRate = line.OpenStop() == RecordingStop::kNotRecording;
        return read;
    }
    read.opened = true;
    // A plain capture's times count from its first byte and name no date.
    const bool wallClock = !line.PlainBytes();
    const int64_t originUs = wallClock ? 0 : line.StartUnixUs();
    ReceivePath receive;
    const auto takeLine = [&](const CRLFProto& crlf) {
        onLine({reinterpret_cast<const char*>(crlf.MessageData()), crlf.MessageLength()},
               receive.TimeUs() - originUs, wallClock);
    };
    ReceivePath::Result result = ReceivePath::Result::kData;
    while (result != ReceivePath::Result::kEnded && result != ReceivePath::Result::kLost) {
        if (stop != nullptr && stop->load()) {
            read.stopped = true;
            return read;
        }
        result = receive.Pump(
            line, kReadSliceMs, [](const DiagProto& /*frame*/) {}, takeLine);
    }
    read.problem = line.Problem();
    return read;
}
