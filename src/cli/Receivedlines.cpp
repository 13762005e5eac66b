#include "cli/Receivedlines.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Clock.h"
#include "record/Recordingfile.h"

namespace {

constexpr int32_t kReadSliceMs = 100;
constexpr int64_t kSilenceLimitMs = 5000;

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int /*signal*/) {
    interrupted = 1;
}

int64_t WallClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// A file read in large blocks: a recording's reader asks for a chunk's few bytes at a time.
class BlockFileSource final : public ByteSource {
  public:
    static constexpr size_t kBlockBytes = 1 << 20;
    explicit BlockFileSource(std::FILE* file) : file_(file), block_(kBlockBytes) {}
    size_t Read(uint8_t* into, size_t size) override {
        if (at_ == filled_) {
            filled_ = std::fread(block_.data(), 1, block_.size(), file_);
            at_ = 0;
        }
        const size_t n = std::min(size, filled_ - at_);
        std::memcpy(into, block_.data() + at_, n);
        at_ += n;
        return n;
    }

  private:
    std::FILE* file_;
    std::vector<uint8_t> block_;
    size_t filled_ = 0;
    size_t at_ = 0;
};

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
    while (interrupted == 0 && (!seconds || clock.MonotonicMs() - start < *seconds * 1000)) {
        const LineTime now{WallClockUs(), true};
        if (!session.Pump(kReadSliceMs, ignoreFrame,
                          [&](const CRLFProto& crlf) { onLine(LineOf(crlf), now); })) {
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

int ReadFileLines(const std::string& path, uint32_t plainBaud, const LineHandler& onLine) {
    InputFile file(path);
    if (file.Get() == nullptr) {
        std::fprintf(stderr, "Error opening recording file %s\n", path.c_str());
        return kExitFailed;
    }
    BlockFileSource source(file.Get());
    RecordingReader reader(source, plainBaud);
    if (!reader.Start()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), reader.Problem().c_str());
        return kExitFailed;
    }
    const bool utc = !reader.IsPlainBytes();
    const int64_t startUs = utc ? reader.Header().startUnixUs : 0;
    DiagProto diag;
    CRLFProto crlf;
    for (RecordingChunk chunk; reader.Next(chunk);) {
        const LineTime time{startUs + static_cast<int64_t>(chunk.timeUs), utc};
        feed_received_bytes(
            diag, crlf, chunk.data, chunk.size, [](const DiagProto& /*frame*/) {},
            [&](const CRLFProto& c) { onLine(LineOf(c), time); });
    }
    if (reader.StoppedEarly()) {
        std::fprintf(stderr, "Reading stopped: %s: %s\n", path.c_str(), reader.Problem().c_str());
        return kExitFailed;
    }
    return kExitOk;
}
