#pragma once
// Finds checksummed binary frames in the received byte stream:
//   02 99 66 | id | length (LE16, payload + 4) | payload | XOR(id..payload) | 03
// Assumptions the parser is built on, each a row of its tests:
//  - reads may split a frame anywhere; state carries over between calls;
//  - noise may stand before, between and inside frames; a broken frame costs only itself;
//  - a 0x02 where the second or third sync byte was expected may start the next frame;
//  - the payload may hold any byte, sync and CR LF bytes included: only the length decides;
//  - a length field that cannot describe a frame within the limit abandons the frame.
#include <cstddef>
#include <cstdint>

#include "proto/Serialproto.h"

struct DiagFrameState {
    int8_t state = 0;      // 0 hunting, 1-2 sync, 3 id, 4-5 length, 6 payload+checksum, 7 trailer
    uint16_t total = 0;    // expected frame length (length field + 4)
    uint16_t count = 0;    // bytes of the current frame in the buffer
    uint8_t checksum = 0;  // running XOR from the message id on
};

enum DiagResult : int {
    kDiagNone = 0,         // byte taken or skipped; no frame complete
    kDiagFrame = 1,        // a frame with a good checksum occupies the first `total` bytes
    kDiagBadLength = 2,    // length field outside 4..limit-4; frame abandoned
    kDiagBadChecksum = 3,  // checksum mismatch; frame abandoned
    kDiagBadTrailer = 4,   // byte after the checksum was not 0x03; frame abandoned
    kDiagBadState = 5,     // unknown state value; back to hunting
};

// The whole step; diag_frame_step handles the two common cases inline and calls this.
DiagResult diag_frame_step_full(uint8_t byte, DiagFrameState& st, uint8_t* buffer, uint16_t limit);

// One step of the frame parser over a caller-owned state and buffer of `limit` bytes
// (at least 8). Inline for the bytes that make up nearly all traffic: text skipped while
// hunting, and payload bytes before the checksum.
inline DiagResult diag_frame_step(uint8_t byte, DiagFrameState& st, uint8_t* __restrict buffer,
                                  uint16_t limit) {
    constexpr int8_t kHunt = 0;
    constexpr int8_t kInPayload = 6;
    constexpr uint8_t kSync1 = 0x02;
    const int8_t state = st.state;
    const uint16_t count = st.count;
    if (state == kHunt || count == 0) {
        if (byte != kSync1) {
            if (state != kHunt || count != 0) {  // skip the stores while already hunting
                st.state = kHunt;
                st.count = 0;
            }
            return kDiagNone;
        }
    } else if (state == kInPayload && count + 2 < st.total) {
        const uint8_t checksum = st.checksum ^ byte;
        buffer[count] = byte;
        st.count = static_cast<uint16_t>(count + 1);
        st.checksum = checksum;
        return kDiagNone;
    }
    return diag_frame_step_full(byte, st, buffer, limit);
}

class DiagProto final : public SerialProto {
  public:
    static constexpr uint16_t kBufferSize = 4000;

    DiagProto() { DiagProto::Reset(); }

    bool ProcessByte(uint8_t byte) override {
        return diag_frame_step(byte, state_, buffer_, kBufferSize) == kDiagFrame;
    }
    void Reset() override { state_ = DiagFrameState{}; }
    uint32_t CopyMessage(uint8_t* dest, uint32_t maxCount) const override;
    const uint8_t* MessageData() const override { return buffer_; }
    uint16_t MessageLength() const override { return state_.total; }

    const DiagFrameState& State() const { return state_; }

    // How many of the next bytes the parser would take without completing, abandoning or
    // leaving its current phase: noise while hunting, or payload bytes before the checksum.
    size_t QuietRun(const uint8_t* bytes, size_t n) const;
    // Takes such a run in bulk, with the same effect as stepping through it byte by byte.
    void TakeQuietRun(const uint8_t* bytes, size_t n);

  private:
    DiagFrameState state_;
    uint8_t buffer_[kBufferSize] = {};
};
