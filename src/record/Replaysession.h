#pragma once
// One recording being replayed: the file, its reader and its pace, and what is known about it
// (its name, length and where it stops being sound). The window program pumps it from a
// timer; the caller reads the clock, so a replay "as fast as possible" can work in slices
// that keep a window responsive.
#include <cstdint>
#include <memory>
#include <string>

#include "record/Recordingfile.h"
#include "record/Replaypacer.h"

class ReplaySession {
  public:
    // Opens the file and reads it through once for its length. False with error set when it
    // cannot be replayed at all (not a recording and no line rate, a damaged header, ...).
    bool Open(const std::string& path, uint32_t plainBaud, std::string& error);
    void Start(int64_t nowMonoUs, double speed);
    ReplayPacer& Pacer() { return pacer_; }

    // Hands each chunk that is due to onBytes(data, size, timeUs), until none is due or
    // budgetUs of `now` have passed. False once the recording has ended.
    template <class Now, class OnBytes>
    bool Pump(Now&& now, int64_t budgetUs, OnBytes&& onBytes);

    bool Ended() const { return ended_; }
    uint64_t PositionUs(int64_t nowMonoUs) const;
    uint64_t DurationUs() const { return summary_.durationUs; }
    const RecordingHeader& Header() const { return summary_.header; }
    bool PlainBytes() const { return summary_.plain; }
    // Where a damaged file stopped; empty for a whole file (and before the end).
    std::string Problem() const { return ended_ ? reader_->Problem() : std::string(); }

  private:
    std::unique_ptr<InputFile> file_;
    std::unique_ptr<FileSource> source_;
    std::unique_ptr<RecordingReader> reader_;
    RecordingSummary summary_;
    ReplayPacer pacer_;
    RecordingChunk chunk_;
    bool haveChunk_ = false;
    bool ended_ = false;
};

template <class Now, class OnBytes>
bool ReplaySession::Pump(Now&& now, int64_t budgetUs, OnBytes&& onBytes) {
    constexpr int kChunksBetweenClockReads = 64;
    const int64_t start = now();
    int64_t at = start;
    for (int n = 0; !ended_; ++n) {
        if (!haveChunk_ && !(haveChunk_ = reader_->Next(chunk_))) {
            ended_ = true;
            break;
        }
        if (n % kChunksBetweenClockReads == 0) {
            at = now();
            if (at - start > budgetUs) {
                break;
            }
        }
        if (!pacer_.Due(chunk_.timeUs, at)) {
            if (pacer_.Speed() == ReplayPacer::kAsFastAsPossible) {
                break;
            }
            at = now();  // the clock read may be stale by up to 63 chunks
            if (!pacer_.Due(chunk_.timeUs, at)) {
                break;
            }
        }
        onBytes(chunk_.data, chunk_.size, chunk_.timeUs);
        pacer_.Played(chunk_.timeUs);
        haveChunk_ = false;
    }
    return !ended_;
}
