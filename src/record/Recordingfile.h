#pragma once
// A recording on a file: the encoder with a flush policy, and a byte source over a file.
//
// The encoded bytes are held for at most one second (or 64 KiB) and then written and flushed,
// so a program that is killed leaves a file whose every whole chunk is readable, and the
// recorder costs one write a second however fast the bytes come.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "record/Recording.h"

class RecordingFile {
  public:
    static constexpr uint64_t kFlushIntervalUs = 1'000'000;
    static constexpr size_t kFlushBytes = 64 * 1024;

    RecordingFile() = default;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile() { Close(); }

    // Creates the file and writes the header. startMonoUs is the monotonic time that chunk
    // times count from. False with Error() set when the file cannot be written.
    bool Open(const std::string& path, const RecordingHeader& header, int64_t startMonoUs);
    bool IsOpen() const { return file_ != nullptr; }

    // Records bytes that arrived at the monotonic time nowMonoUs. False once writing failed;
    // the file is then closed and Error() says why.
    bool Add(int64_t nowMonoUs, const uint8_t* data, size_t size);
    // Writes out what is held when it has been held for a second. Call it while no bytes come.
    bool Poll(int64_t nowMonoUs);
    // Writes out what is held and closes. False when the last write failed.
    bool Close();

    // Received bytes recorded so far, and the time of the last (microseconds from the start).
    uint64_t DataBytes() const { return dataBytes_; }
    uint64_t FileBytes() const { return fileBytes_ + pending_.size(); }
    uint64_t ElapsedUs(int64_t nowMonoUs) const;
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

  private:
    bool WriteOut();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    std::vector<uint8_t> pending_;
    int64_t startMonoUs_ = 0;
    int64_t lastFlushMonoUs_ = 0;
    uint64_t lastTimeUs_ = 0;
    uint64_t dataBytes_ = 0;
    uint64_t fileBytes_ = 0;
};

// The bytes of an open file, for RecordingReader, read in large blocks: the reader asks for
// a chunk's few bytes at a time.
class FileSource final : public ByteSource {
  public:
    static constexpr size_t kBlockBytes = size_t{1} << 20;
    explicit FileSource(std::FILE* file) : file_(file) {}
    size_t Read(uint8_t* into, size_t size) override;

  private:
    std::FILE* file_;
    std::vector<uint8_t> block_;
    size_t filled_ = 0;
    size_t at_ = 0;
};

// A file opened for reading, closed on leaving scope.
class InputFile {
  public:
    explicit InputFile(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    std::FILE* Get() const { return file_; }

  private:
    std::FILE* file_;
};

// What a whole file holds: its header, its sound length and where it stops being sound.
struct RecordingSummary {
    bool readable = false;  // false: Problem says why nothing can be replayed
    bool plain = false;
    RecordingHeader header;
    uint64_t durationUs = 0;
    uint64_t dataBytes = 0;
    std::string problem;  // empty when the whole file is sound
    // Why the reader stopped: kNotRecording tells a file that is not a recording (it can be
    // played as plain bytes at a line rate); kNone when the file could not be opened at all.
    RecordingStop stop = RecordingStop::kNone;
};
RecordingSummary SummarizeRecording(const std::string& path, uint32_t plainBaud);
