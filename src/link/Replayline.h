#pragma once
// A recording played back as a line: its bytes come out of Read when they are due, at the
// recorded pace, ten times faster or as fast as possible, and not while paused, each read
// stamped with the moment the bytes were received. A file that is not a recording (a plain
// capture from any tool) plays as bytes arriving at the line rate given to Open. Nobody
// listens at the far end: writes go nowhere, and the rate cannot change.
//
// When the last sound byte has been read, every read fails and Ended() is true; EndText()
// says whether the whole recording was played or where it stopped being sound.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/Line.h"
#include "record/Recordingfile.h"
#include "record/Replaypacer.h"

class Clock;

class ReplayLine final : public Line {
  public:
    explicit ReplayLine(Clock& clock);
    ~ReplayLine() override;

    // Opens the recording at `path`; `plainBaud` paces a file that is not a recording (0:
    // refuse such a file). The replay starts at once, at the pace SetSpeed gave (the recorded
    // pace unless told).
    bool Open(const std::string& path, uint32_t plainBaud, int parity = 0) override;
    void Close() override;
    bool IsOpen() const override { return reader_ != nullptr; }
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override;
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr) override;
    bool SetBaudRate(uint32_t baudRate) override;
    void Purge() override {}
    bool CanChangeRate() const override { return false; }
    std::string RateRefusal() const override;
    bool CanWrite() const override { return false; }
    bool Ended() const override { return ended_; }

    // The pace: 1 the recorded pace, 10 ten times faster, ReplayPacer::kAsFastAsPossible.
    void SetSpeed(double speed);
    double Speed() const { return pacer_.Speed(); }
    void Pause(bool paused);
    bool Paused() const { return pacer_.Paused(); }

    // Where the replay stands, and how long the sound part of the file lasts (the file is
    // read through for it once, when first asked).
    uint64_t PositionUs() const;
    uint64_t DurationUs() const;
    const RecordingHeader& Header() const { return header_; }
    bool PlainBytes() const { return plain_; }
    // What the replay's times count from, in microseconds since 1970 UTC: the recording's
    // start, or the moment a plain capture began to play.
    int64_t StartUnixUs() const { return startUnixUs_; }
    // Why Open failed (kNotRecording: a file that is not a recording, which plays when given
    // a line rate); kNone when the file could not be read at all.
    RecordingStop OpenStop() const { return openStop_; }
    // After the end: empty when the whole recording was played, else where it stopped.
    std::string Problem() const;

  private:
    bool NextChunk();
    // Waits (blocking mode) until the chunk at hand is due or waitMs pass; false when it is
    // still not due.
    bool AwaitChunk(int32_t waitMs);

    Clock& clock_;
    std::unique_ptr<InputFile> file_;
    std::unique_ptr<FileSource> source_;
    std::unique_ptr<RecordingReader> reader_;
    std::string path_;
    uint32_t plainBaud_ = 0;
    RecordingHeader header_;
    bool plain_ = false;
    RecordingStop openStop_ = RecordingStop::kNone;
    mutable std::optional<uint64_t> durationUs_;
    ReplayPacer pacer_;
    double speed_ = 1.0;
    RecordingChunk chunk_;
    size_t chunkTaken_ = 0;  // bytes of chunk_ already read
    bool haveChunk_ = false;
    bool ended_ = false;
    int64_t startUnixUs_ = 0;  // what chunk times count from
};
