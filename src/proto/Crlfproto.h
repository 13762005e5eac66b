#pragma once
// Cuts the received byte stream into lines ended by CR LF. The framer does not look at
// what a line holds: every byte between two line ends, binary frames included, belongs to
// a line; choosing which lines are NMEA sentences is the reader's job.
#include <cstddef>
#include <cstdint>

#include "proto/Serialproto.h"

struct CrlfFrameState {
    uint8_t state = 0;   // 0 line start, 1 inside a line, 2 CR seen
    uint16_t count = 0;  // bytes of the current line stored in the buffer
};

enum CrlfResult : int {
    kCrlfNone = 0,      // byte taken (or a line abandoned after CR without LF)
    kCrlfLine = 1,      // a line ending in CR LF occupies the first `count` bytes
    kCrlfTooLong = 2,   // byte dropped, line abandoned: it would exceed the limit
    kCrlfBadState = 3,  // the state held an unknown value; back to line start
};

// One step of the line framer over a caller-owned state and buffer of `limit` bytes.
// Inline: it runs for every received byte.
inline CrlfResult crlf_frame_step(uint8_t byte, CrlfFrameState& st, uint8_t* __restrict buffer,
                                  uint16_t limit) {
    constexpr uint8_t kCR = 13;
    constexpr uint8_t kLF = 10;
    constexpr uint8_t kStart = 0;
    constexpr uint8_t kInLine = 1;
    constexpr uint8_t kSawCR = 2;
    // Work on locals: the byte store below may alias the state record as far as the
    // compiler knows, and reloading it would cost more than the step itself.
    uint8_t state = st.state;
    uint16_t count = st.count;
    if (state == kInLine && byte != kCR && count != 0 && count < limit) {  // most bytes
        buffer[count] = byte;
        st.count = static_cast<uint16_t>(count + 1);
        return kCrlfNone;
    }
    // A state of 0 or an empty buffer means this byte begins a new line.
    if (state == kStart || count == 0) {
        state = kInLine;
        count = 0;
    }
    if (count >= limit) {
        st.state = kStart;
        st.count = count;
        return kCrlfTooLong;
    }
    buffer[count] = byte;
    st.count = static_cast<uint16_t>(count + 1);
    if (state == kInLine) {
        st.state = byte == kCR ? kSawCR : kInLine;
        return kCrlfNone;
    }
    st.state = kStart;
    if (state == kSawCR) {
        // A CR followed by anything but LF abandons the line, this byte with it.
        return byte == kLF ? kCrlfLine : kCrlfNone;
    }
    return kCrlfBadState;
}

class CRLFProto final : public SerialProto {
  public:
    static constexpr uint16_t kBufferSize = 1200;

    CRLFProto() { CRLFProto::Reset(); }

    bool ProcessByte(uint8_t byte) override {
        return crlf_frame_step(byte, state_, buffer_, kBufferSize) == kCrlfLine;
    }
    void Reset() override { state_.state = 0; }
    uint32_t CopyMessage(uint8_t* dest, uint32_t maxCount) const override;
    const uint8_t* MessageData() const override { return buffer_; }
    uint16_t MessageLength() const override { return state_.count; }

    const CrlfFrameState& State() const { return state_; }

    // How many of the next bytes extend the current line without ending or overflowing it.
    size_t QuietRun(const uint8_t* bytes, size_t n) const;
    // Takes such a run in bulk, with the same effect as stepping through it byte by byte.
    void TakeQuietRun(const uint8_t* bytes, size_t n);

  private:
    CrlfFrameState state_;
    uint8_t buffer_[kBufferSize] = {};
};
