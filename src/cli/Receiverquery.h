#pragma once
// A request and its reply on an open port, with nothing printed: the batch commands run many
// at once and report in their own table.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/Line.h"
#include "link/Receivepath.h"

// Receives until a frame with the id has come (its payload in `payload`) or `until` (monotonic
// milliseconds) has passed; false when the line failed.
bool AwaitReply(Line& port, ReceivePath& receive, uint8_t id, int64_t until,
                std::optional<std::vector<uint8_t>>& payload);

// Asks for the message (again every second) and waits at most waitMs for it; its payload, or
// nothing when no answer came or the port failed.
std::optional<std::vector<uint8_t>> AskQuietly(Line& port, uint8_t id, int64_t waitMs);

// The software version the receiver reports ("1.0SIM") and its NMEA mask; nothing when it
// does not answer with a configuration message.
struct RunningSoftware {
    std::string version;
    uint32_t nmeaMask = 0;
};
std::optional<RunningSoftware> AskVersion(Line& port, int64_t waitMs);
