#pragma once
// Where the position commands (accuracy, export) get their input: the complete lines
// received, each with the time it arrived, from a live receiver or from a file. These two
// functions are the commands' whole input; they hand lines over and know nothing of what
// becomes of them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Session.h"
#include "geo/Trackfixes.h"

using LineHandler = std::function<void(std::string_view line, LineTime time)>;

// Hands over each line the open session receives, stamped with the wall clock, until Ctrl-C,
// until `seconds` have passed, or until not a byte arrives for five seconds or the port is
// lost. kExitOk for the first two; kExitFailed, reported, for the others.
int ReceiveLiveLines(Session& session, std::optional<int64_t> seconds, const LineHandler& onLine);

// Hands over each line of a recording, stamped with its start time and the chunk's time, or
// of a plain capture played at plainBaud, stamped from the file's start. kExitOk when the
// whole file was read; kExitFailed, reported, when it cannot be read at all or where it
// stops being sound (the sound lines before are handed over).
int ReadFileLines(const std::string& path, uint32_t plainBaud, const LineHandler& onLine);
