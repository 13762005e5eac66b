#pragma once
// The pace of a replay: where in the recording the replay stands at a given monotonic time,
// at the recorded pace, faster, or as fast as possible, with pause and resume. Times in
// microseconds; the caller reads the clock, so the pacer can be tested without waiting.
#include <cstdint>

class ReplayPacer {
  public:
    static constexpr double kAsFastAsPossible = 0.0;

    // speed: 1 the recorded pace, 10 ten times faster, kAsFastAsPossible no waiting.
    void Start(int64_t nowMonoUs, double speed = 1.0);
    void SetSpeed(int64_t nowMonoUs, double speed);
    void Pause(int64_t nowMonoUs);
    void Resume(int64_t nowMonoUs);
    bool Paused() const { return paused_; }
    double Speed() const { return speed_; }

    // The recording time reached at nowMonoUs (everything stamped up to it is due).
    uint64_t PositionUs(int64_t nowMonoUs) const;
    // Whether a chunk stamped timeUs is due at nowMonoUs.
    bool Due(uint64_t timeUs, int64_t nowMonoUs) const;
    // Microseconds from nowMonoUs until a chunk stamped timeUs is due; 0 when it is; -1 while
    // paused (nothing is due until resumed).
    int64_t WaitUs(uint64_t timeUs, int64_t nowMonoUs) const;
    // Records that the chunk stamped timeUs was played: an as-fast-as-possible replay stands
    // where its last chunk was, so a change to a timed pace goes on from there.
    void Played(uint64_t timeUs);

  private:
    void Anchor(int64_t nowMonoUs);

    double speed_ = 1.0;
    bool paused_ = false;
    int64_t anchorMonoUs_ = 0;
    uint64_t anchorPositionUs_ = 0;
    uint64_t played_ = 0;
};
