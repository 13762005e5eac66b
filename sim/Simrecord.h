#pragma once
// The receiver's record of the line: every sentence and frame it sent, every frame it
// received, and every input it could not read because it came at another rate than the
// receiver's, in order, with the time it happened.
#include <cstdint>
#include <string>
#include <vector>

enum class SimDirection : uint8_t { kSent, kReceived };
// kBytes: input heard at a rate it was not sent at, as it was sent; it reached no framer.
enum class SimKind : uint8_t { kSentence, kFrame, kBytes };

struct SimRecordEntry {
    int64_t timeMs = 0;  // since the receiver started
    SimDirection direction = SimDirection::kSent;
    SimKind kind = SimKind::kSentence;
    std::vector<uint8_t> bytes;  // as the receiver meant them
    // Sent at a rate the other side was not set to, or hit by injected noise or drops: the
    // other side cannot have received these bytes intact.
    bool damaged = false;
    // Both set when the two sides' rates differed: the rate the bytes were sent at and the
    // rate the other side listened at.
    uint32_t sentBaud = 0;
    uint32_t heardBaud = 0;
};

// One readable line: seconds, direction, kind, then the sentence text (line end dropped) or
// the bytes in hexadecimal; damaged entries carry "damaged" before the bytes, and the two
// rates ("57600>19200": sent at, heard at) when those differed.
std::string FormatRecordEntry(const SimRecordEntry& entry);
