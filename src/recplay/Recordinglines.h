#pragma once
// The complete lines a recording holds, each with the time it arrived, read the way a replay
// delivers them: a replay line at full speed pumped through the receive path. A file that is
// not a recording (a plain capture) is read as bytes arriving at a line rate the caller gives.
// The tool's commands and the window program's track export read files through this.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A line, CR LF included, and when it arrived: microseconds since 1970 UTC when `wallClock`
// (a recording), else counted from the file's first byte (a plain capture, which names no
// date).
using RecordedLineHandler = std::function<void(std::string_view line, int64_t timeUs, bool wallClock)>;

struct RecordingLinesRead {
    bool opened = false;         // false: `error` says why nothing could be read
    bool needsLineRate = false;  // not a recording: read again with a line rate
    bool stopped = false;        // the caller's stop flag ended the reading
    std::string error;
    std::string problem;  // where the file stops being sound; empty when read to its end
};

// Hands each line of the file at `path` to `onLine`, in order; `plainBaud` paces a plain
// capture (0: refuse one). A set `stop` ends the reading at its next slice.
RecordingLinesRead ReadRecordingLines(const std::string& path, uint32_t plainBaud,
                                      const RecordedLineHandler& onLine,
                                      const std::atomic<bool>* stop = nullptr);
