#include "record/Recordingfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

bool RecordingFile::Open(const std::string& path, const RecordingHeader& header, int64_t startMonoUs) {
    Close();
    path_ = path;
    error_.clear();
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error_ = "Error opening recording file " + path + ": " + std::strerror(errno);
        return false;
    }
    startMonoUs_ = startMonoUs;
    lastFlushMonoUs_ = startMonoUs;
    lastTimeUs_ = 0;
    dataBytes_ = 0;
    fileBytes_ = 0;
    pending_.clear();
    AppendRecordingHeader(pending_, header);
    return WriteOut();
}

uint64_t RecordingFile::ElapsedUs(int64_t nowMonoUs) const {
    return nowMonoUs > startMonoUs_ ? static_cast<uint64_t>(nowMonoUs - startMonoUs_) : 0;
}

bool RecordingFile::Add(int64_t nowMonoUs, const uint8_t* data, size_t size) {
    if (file_ == nullptr) {
        return false;
    }
    // Chunk times never go backwards, whatever the caller's clock does.
    lastTimeUs_ = std::max(lastTimeUs_, ElapsedUs(nowMonoUs));
    AppendRecordingChunk(pending_, lastTimeUs_, data, size);
    dataBytes_ += size;
    return pending_.size() >= kFlushBytes ? WriteOut() : Poll(nowMonoUs);
}

bool RecordingFile::Poll(int64_t nowMonoUs) {
    if (file_ == nullptr) {
        return false;
    }
    if (nowMonoUs - lastFlushMonoUs_ < static_cast<int64_t>(kFlushIntervalUs)) {
        return true;
    }
    lastFlushMonoUs_ = nowMonoUs;
    return WriteOut();
}

bool RecordingFile::WriteOut() {
    if (!pending_.empty() && (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size() ||
                              std::fflush(file_) != 0)) {
        error_ = "Error writing recording file " + path_ + ": " + std::strerror(errno) +
                 ". Recording has stopped.";
        std::fclose(file_);
        file_ = nullptr;
        pending_.clear();
        return false;
    }
    fileBytes_ += pending_.size();
    pending_.clear();
    return true;
}

bool RecordingFile::Close() {
    if (file_ == nullptr) {
        return error_.empty();
    }
    const bool written = WriteOut();
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return written;
}

size_t FileSource::Read(uint8_t* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        if (at_ == filled_) {
            block_.resize(kBlockBytes);
            filled_ = std::fread(block_.data(), 1, block_.size(), file_);
            at_ = 0;
            if (filled_ == 0) {
                break;
            }
        }
        const size_t n = std::min(size - done, filled_ - at_);
        std::memcpy(into + done, block_.data() + at_, n);
        at_ += n;
        done += n;
    }
    return done;
}

RecordingSummary SummarizeRecording(const std::string& path, uint32_t plainBaud) {
    RecordingSummary summary;
    std::error_code notFolder;
    if (std::filesystem::is_directory(path, notFolder)) {
        summary.problem = "is a folder";
        return summary;
    }
    InputFile file(path);
    if (file.Get() == nullptr) {
        summary.problem = std::strerror(errno);
        return summary;
    }
    FileSource source(file.Get());
    RecordingReader reader(source, plainBaud);
    if (!reader.Start()) {
        summary.problem = reader.Problem();
        summary.stop = reader.Stop();
        return summary;
    }
    summary.readable = true;
    summary.plain = reader.IsPlainBytes();
    summary.header = reader.Header();
    for (RecordingChunk chunk; reader.Next(chunk);) {
        summary.dataBytes += chunk.size;
    }
    summary.durationUs = reader.LastTimeUs();
    summary.problem = reader.Problem();
    summary.stop = reader.Stop();
    return summary;
}
