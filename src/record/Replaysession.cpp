#include "record/Replaysession.h"

#include <algorithm>

bool ReplaySession::Open(const std::string& path, uint32_t plainBaud, std::string& error) {
    summary_ = SummarizeRecording(path, plainBaud);
    if (!summary_.readable) {
        error = summary_.problem;
        return false;
    }
    file_ = std::make_unique<InputFile>(path);
    if (file_->Get() == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    source_ = std::make_unique<FileSource>(file_->Get());
    reader_ = std::make_unique<RecordingReader>(*source_, plainBaud);
    if (!reader_->Start()) {
        error = reader_->Problem();
        return false;
    }
    return true;
}

void ReplaySession::Start(int64_t nowMonoUs, double speed) {
    pacer_.Start(nowMonoUs, speed);
    haveChunk_ = false;
    ended_ = false;
}

uint64_t ReplaySession::PositionUs(int64_t nowMonoUs) const {
    return ended_ ? summary_.durationUs : std::min(pacer_.PositionUs(nowMonoUs), summary_.durationUs);
}
