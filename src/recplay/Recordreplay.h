#pragma once
// Recording and replay as the window program's File menu offers them, and the tool too. A
// recording keeps every byte a line delivers with its arrival time (the receive path's tap
// feeds it); a replay is a line (link/Replayline.h) that the caller puts where a port would
// be. The pace is chosen before or during a replay and holds for the next one. Every text
// the user sees about either is made here.
#include <cstdint>
#include <memory>
#include <string>

#include "link/Replayline.h"
#include "record/Recordingfile.h"

class Clock;

class RecordReplay {
  public:
    static constexpr double kTenTimes = 10.0;

    explicit RecordReplay(Clock& clock) : clock_(clock) {}

    // Recording. Starts writing what the line delivers to `path`; the header names the
    // device and its rate. False with Error() set when the file cannot be written.
    bool StartRecording(const std::string& path, const std::string& device, uint32_t baud);
    // Writes out what is held and closes; false when the last write failed (Error says why).
    bool StopRecording();
    bool Recording() const { return recording_ != nullptr; }
    // The receive path's tap: records bytes with the time they arrived (microseconds since
    // 1970 UTC), so that a replay stamps them as the live display did. False once writing
    // failed; the recording has then stopped and Error() says why.
    bool Record(const uint8_t* bytes, size_t count, int64_t arrivedUs);
    // Writes out what is held once it is a second old, while nothing arrives. False as Record.
    bool Poll();
    const std::string& Error() const { return error_; }
    // "Recording: session.rec 12 KB 00:42", or empty.
    std::string RecordingState() const;
    uint64_t RecordedBytes() const;
    uint64_t RecordedUs() const;

    // Replay. Opens `path` as a replay line at the chosen pace; null with Error() set when it
    // cannot be played. NeedsLineRate() then tells a file that is not a recording, which
    // plays when given a line rate (plainBaud).
    std::shared_ptr<ReplayLine> OpenReplay(const std::string& path, uint32_t plainBaud);
    bool NeedsLineRate() const { return needsLineRate_; }
    // The replay opened last, while it plays (not after it ended or was stopped).
    bool Replaying() const;
    void SetSpeed(double speed);
    double Speed() const { return speed_; }
    void Pause(bool paused);
    bool Paused() const;
    // "Replay: session.rec 00:04 of 00:08", " (paused)" after it while paused; or empty.
    std::string ReplayState() const;
    // Ends the replay and says how: played to its end (or where it stopped being sound), or
    // stopped by the user, or stopped because a port took the line's place.
    enum class Ending { kPlayed, kStopped, kPortOpened };
    std::string EndReplay(Ending ending);

  private:
    Clock& clock_;
    std::unique_ptr<RecordingFile> recording_;
    int64_t startUnixUs_ = 0;  // the recording's start on the wall clock and the monotonic one
    int64_t startMonoUs_ = 0;
    std::string error_;
    std::shared_ptr<ReplayLine> replay_;
    std::string replayName_;
    double speed_ = 1.0;
    bool needsLineRate_ = false;
};

// "812 bytes", "12 KB", "3 MB".
std::string SizeText(uint64_t bytes);
// The part of a path after its last separator.
std::string ShortFileName(const std::string& path);
