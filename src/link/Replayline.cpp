#include "link/Replayline.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/Clock.h"

namespace {
constexpr uint32_t kNotOpenCode = 9;      // EBADF
constexpr uint32_t kRefusedCode = 22;     // EINVAL
constexpr uint32_t kEndedCode = 32;       // EPIPE: the recording has no more bytes
constexpr int64_t kLongestSleepMs = 100;  // a paused or slow replay is looked at again this often
constexpr int64_t kUsPerSecond = 1'000'000;
}  // namespace

ReplayLine::ReplayLine(Clock& clock) : clock_(clock) {}

ReplayLine::~ReplayLine() {
    ReplayLine::Close();
}

bool ReplayLine::Open(const std::string& path, uint32_t plainBaud, int /*parity*/) {
    if (IsOpen()) {
        return false;
    }
    openStop_ = RecordingStop::kNone;
    std::error_code notFolder;
    if (std::filesystem::is_directory(path, notFolder)) {
        RecordError(kRefusedCode, "is a folder", true);
        return false;
    }
    file_ = std::make_unique<InputFile>(path);
    if (file_->Get() == nullptr) {
        RecordError(kRefusedCode, std::strerror(errno), true);
        file_.reset();
        return false;
    }
    source_ = std::make_unique<FileSource>(file_->Get());
    reader_ = std::make_unique<RecordingReader>(*source_, plainBaud);
    if (!reader_->Start()) {
        openStop_ = reader_->Stop();
        RecordError(kRefusedCode, reader_->Problem(), true);
        Close();
        return false;
    }
    path_ = path;
    plainBaud_ = plainBaud;
    header_ = reader_->Header();
    plain_ = reader_->IsPlainBytes();
    durationUs_.reset();
    // A plain capture has no time of its own: it counts from the moment the replay starts.
    startUnixUs_ = plain_ ? clock_.NowSeconds() * kUsPerSecond : header_.startUnixUs;
    pacer_.Start(clock_.MonotonicUs(), speed_);
    haveChunk_ = false;
    ended_ = false;
    SetName(path);
    CountLineChange();
    return true;
}

void ReplayLine::Close() {
    reader_.reset();
    source_.reset();
    file_.reset();
    haveChunk_ = false;
}

bool ReplayLine::NextChunk() {
    if (!reader_->Next(chunk_)) {
        ended_ = true;
        return false;
    }
    chunkTaken_ = 0;
    haveChunk_ = true;
    return true;
}

bool ReplayLine::AwaitChunk(int32_t waitMs) {
    const int64_t endMs = clock_.MonotonicMs() + std::max(waitMs, 0);
    for (;;) {
        const int64_t waitUs = pacer_.WaitUs(chunk_.timeUs, clock_.MonotonicUs());
        if (waitUs == 0) {
            return true;
        }
        const int64_t leftMs = waitMs < 0 ? kLongestSleepMs : endMs - clock_.MonotonicMs();
        if (leftMs <= 0) {
            return false;
        }
        const int64_t dueMs = waitUs < 0 ? kLongestSleepMs : (waitUs + 999) / 1000;
        clock_.SleepMs(std::min({dueMs, leftMs, kLongestSleepMs}));
    }
}

bool ReplayLine::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (received != nullptr) {
        *received = 0;
    }
    if (!IsOpen()) {
        RecordError(kNotOpenCode, "The port is not open");
        return false;
    }
    if (ended_ || (!haveChunk_ && !NextChunk())) {
        RecordError(kEndedCode, Problem());
        return false;
    }
    if (!AwaitChunk(Blocking() ? waitMs : 0)) {
        if (Blocking()) {
            RecordError(ReadTimedOutCode(), "Nothing due in the replay");
            return false;
        }
        return true;
    }
    const size_t count = std::min<size_t>(capacity, chunk_.size - chunkTaken_);
    std::memcpy(buffer, chunk_.data + chunkTaken_, count);
    chunkTaken_ += count;
    StampRead(startUnixUs_ + static_cast<int64_t>(chunk_.timeUs));
    if (chunkTaken_ == chunk_.size) {
        pacer_.Played(chunk_.timeUs);
        haveChunk_ = false;
    }
    if (received != nullptr) {
        *received = static_cast<uint32_t>(count);
    }
    return true;
}

bool ReplayLine::Write(const uint8_t* /*buffer*/, uint32_t /*count*/, uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    RecordError(kRefusedCode, "A replay cannot be written to");
    return false;
}

bool ReplayLine::SetBaudRate(uint32_t /*baudRate*/) {
    RecordError(kRefusedCode, RateRefusal());
    return false;
}

std::string ReplayLine::RateRefusal() const {
    return "A replay plays at the pace it was recorded at; its line rate cannot change.";
}

void ReplayLine::SetSpeed(double speed) {
    speed_ = speed;
    if (IsOpen()) {
        pacer_.SetSpeed(clock_.MonotonicUs(), speed);
    }
}

void ReplayLine::Pause(bool paused) {
    if (!IsOpen()) {
        return;
    }
    if (paused) {
        pacer_.Pause(clock_.MonotonicUs());
    } else {
        pacer_.Resume(clock_.MonotonicUs());
    }
}

uint64_t ReplayLine::DurationUs() const {
    if (!durationUs_) {
        durationUs_ = SummarizeRecording(path_, plainBaud_).durationUs;
    }
    return *durationUs_;
}

uint64_t ReplayLine::PositionUs() const {
    if (ended_) {
        return DurationUs();
    }
    return std::min(pacer_.PositionUs(clock_.MonotonicUs()), DurationUs());
}

std::string ReplayLine::Problem() const {
    return ended_ && reader_ ? reader_->Problem() : std::string();
}
