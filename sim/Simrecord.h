#pragma once
// The receiver's record of the line: every sentence and frame it sent and every frame it
// received, in order, with the time it happened.
#include <cstdint>
#include <string>
#include <vector>

enum class SimDirection : uint8_t { kSent, kReceived };
enum class SimKind : uint8_t { kSentence, kFrame };

struct SimRecordEntry {
    int64_t timeMs = 0;  // since the receiver started
    SimDirection direction = SimDirection::kSent;
    SimKind kind = SimKind::kSentence;
    std::vector<uint8_t> bytes;  // as the receiver meant them
    // Sent at a rate the other side was not set to, or hit by injected noise or drops: the
    // other side cannot have received these bytes intact.
    bool damaged = false;
};

// One readable line: seconds, direction, kind, then the sentence text (line end dropped) or
// the frame in hexadecimal; damaged entries carry "damaged" before the bytes.
std::string FormatRecordEntry(const SimRecordEntry& entry);
