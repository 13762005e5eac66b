#include "recplay/Recordreplay.h"

#include "base/Clock.h"
#include "link/Line.h"

namespace {
constexpr uint64_t kKiB = 1024;
constexpr uint64_t kBytesShownUpTo = 10 * kKiB;
constexpr uint64_t kKiBShownUpTo = 10 * kKiB * kKiB;
}  // namespace

std::string SizeText(uint64_t bytes) {
    if (bytes < kBytesShownUpTo) {
        return std::to_string(bytes) + " bytes";
    }
    if (bytes < kKiBShownUpTo) {
        return std::to_string(bytes / kKiB) + " KB";
    }
    return std::to_string(bytes / (kKiB * kKiB)) + " MB";
}

std::string ShortFileName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool RecordReplay::StartRecording(const std::string& path, const std::string& device, uint32_t baud) {
    auto file = std::make_unique<RecordingFile>();
    startUnixUs_ = WallClockUs();
    startMonoUs_ = clock_.MonotonicUs();
    const RecordingHeader header{baud, startUnixUs_, device};
    if (!file->Open(path, header, startMonoUs_)) {
        error_ = file->Error();
        return false;
    }
    recording_ = std::move(file);
    error_.clear();
    return true;
}

bool RecordReplay::StopRecording() {
    if (!recording_) {
        return true;
    }
    const bool written = recording_->Close();
    error_ = recording_->Error();
    recording_.reset();
    return written;
}

bool RecordReplay::Record(const uint8_t* bytes, size_t count, int64_t arrivedUs) {
    if (!recording_) {
        return true;
    }
    // The chunk's time is the arrival's, counted from the recording's start.
    const int64_t monoUs = arrivedUs > 0 ? startMonoUs_ + (arrivedUs - startUnixUs_) : clock_.MonotonicUs();
    if (!recording_->Add(monoUs, bytes, count)) {
        StopRecording();
        return false;
    }
    return true;
}

bool RecordReplay::Poll() {
    if (!recording_) {
        return true;
    }
    if (!recording_->Poll(clock_.MonotonicUs())) {
        StopRecording();
        return false;
    }
    return true;
}

uint64_t RecordReplay::RecordedBytes() const {
    return recording_ ? recording_->DataBytes() : 0;
}

uint64_t RecordReplay::RecordedUs() const {
    return recording_ ? recording_->ElapsedUs(clock_.MonotonicUs()) : 0;
}

std::string RecordReplay::RecordingState() const {
    if (!recording_) {
        return {};
    }
    return "Recording: " + ShortFileName(recording_->Path()) + " " + SizeText(recording_->FileBytes()) + " " +
           RecordingTimeText(recording_->ElapsedUs(clock_.MonotonicUs()));
}

std::shared_ptr<ReplayLine> RecordReplay::OpenReplay(const std::string& path, uint32_t plainBaud) {
    auto line = std::make_shared<ReplayLine>(clock_);
    line->SetSpeed(speed_);
    needsLineRate_ = false;
    if (!line->Open(path, plainBaud)) {
        error_ = line->LastErrorText();
        needsLineRate_ = line->OpenStop() == RecordingStop::kNotRecording;
        return nullptr;
    }
    error_.clear();
    replay_ = line;
    replayName_ = ShortFileName(path);
    return line;
}

bool RecordReplay::Replaying() const {
    return replay_ != nullptr;
}

void RecordReplay::SetSpeed(double speed) {
    speed_ = speed;
    if (replay_) {
        replay_->SetSpeed(speed);
    }
}

void RecordReplay::Pause(bool paused) {
    if (replay_) {
        replay_->Pause(paused);
    }
}

bool RecordReplay::Paused() const {
    return replay_ && replay_->Paused();
}

std::string RecordReplay::ReplayState() const {
    if (!replay_) {
        return {};
    }
    return "Replay: " + replayName_ + " " + RecordingTimeText(replay_->PositionUs()) + " of " +
           RecordingTimeText(replay_->DurationUs()) + (replay_->Paused() ? " (paused)" : "");
}

std::string RecordReplay::EndReplay(Ending ending) {
    if (!replay_) {
        return {};
    }
    const std::string problem = replay_->Problem();
    const std::string at = RecordingTimeText(replay_->PositionUs());
    std::string text;
    switch (ending) {
        case Ending::kPlayed:
            text = problem.empty() ? "Replay of " + replayName_ + " ended (" + at + ")"
                                   : "Replay of " + replayName_ + " stopped at " + at + ": " + problem;
            break;
        case Ending::kStopped:
            text = "Replay of " + replayName_ + " stopped at " + at;
            break;
        case Ending::kPortOpened:
            text = "Replay of " + replayName_ + " stopped: a port was opened";
            break;
    }
    replay_->Close();
    replay_.reset();
    return text;
}
