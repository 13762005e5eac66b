#include "proto/Diagproto.h"

#include <algorithm>
#include <cstring>

#include "proto/Messages.h"

namespace {
enum State : int8_t {
    kHunt = 0,
    kSawSync1 = 1,
    kSawSync2 = 2,
    kWantId = 3,
    kWantLengthLow = 4,
    kWantLengthHigh = 5,
    kInPayload = 6,
    kWantTrailer = 7,
};

// Starts a frame with a first sync byte already seen.
DiagResult BeginFrame(DiagFrameState& st, uint8_t* buffer) {
    buffer[0] = frame::kSync1;
    st.count = 1;
    st.state = kSawSync1;
    return kDiagNone;
}

// A sync byte out of place ends the attempt, but a 0x02 may begin the next frame.
DiagResult RestartOrHunt(uint8_t byte, DiagFrameState& st, uint8_t* buffer) {
    if (byte == frame::kSync1) {
        return BeginFrame(st, buffer);
    }
    st.state = kHunt;
    return kDiagNone;
}

DiagResult TakeLengthHigh(uint8_t byte, DiagFrameState& st, uint8_t* buffer, uint16_t limit) {
    buffer[frame::kLengthOffset + 1] = byte;
    st.count = frame::kPayloadOffset;
    const uint32_t length = static_cast<uint32_t>(buffer[frame::kLengthOffset]) | (uint32_t{byte} << 8);
    const uint32_t total = length + frame::kLengthFieldExtra;
    // A length below 4 has no room for its own checksum; one whose total exceeds the
    // buffer (or 16 bits) cannot be stored. Either way the frame is not what it claims.
    if (length < frame::kLengthFieldExtra || total > limit) {
        st.state = kHunt;
        return kDiagBadLength;
    }
    st.total = static_cast<uint16_t>(total);
    st.checksum ^= byte;
    st.state = kInPayload;
    return kDiagNone;
}

DiagResult TakePayload(uint8_t byte, DiagFrameState& st, uint8_t* buffer) {
    buffer[st.count++] = byte;
    st.checksum ^= byte;
    if (st.count >= st.total - 1) {  // that byte was the checksum
        if (st.checksum != 0) {
            st.state = kHunt;
            return kDiagBadChecksum;
        }
        st.state = kWantTrailer;
    }
    return kDiagNone;
}
}  // namespace

DiagResult diag_frame_step_full(uint8_t byte, DiagFrameState& st, uint8_t* buffer, uint16_t limit) {
    // A parser with an empty buffer is hunting; a hunting parser starts from an empty buffer.
    if (st.count == 0) {
        st.state = kHunt;
    } else if (st.state == kHunt) {
        st.count = 0;
    }
    switch (st.state) {
        case kHunt:
            if (byte == frame::kSync1) {
                return BeginFrame(st, buffer);
            }
            return kDiagNone;
        case kSawSync1:
            if (byte != frame::kSync2) {
                return RestartOrHunt(byte, st, buffer);
            }
            buffer[1] = byte;
            st.count = 2;
            st.state = kSawSync2;
            return kDiagNone;
        case kSawSync2:
            if (byte != frame::kSync3) {
                return RestartOrHunt(byte, st, buffer);
            }
            buffer[2] = byte;
            st.count = 3;
            st.state = kWantId;
            return kDiagNone;
        case kWantId:
            buffer[frame::kIdOffset] = byte;
            st.count = 4;
            st.checksum = byte;
            st.state = kWantLengthLow;
            return kDiagNone;
        case kWantLengthLow:
            buffer[frame::kLengthOffset] = byte;
            st.count = 5;
            st.checksum ^= byte;
            st.state = kWantLengthHigh;
            return kDiagNone;
        case kWantLengthHigh:
            return TakeLengthHigh(byte, st, buffer, limit);
        case kInPayload:
            return TakePayload(byte, st, buffer);
        case kWantTrailer:
            st.state = kHunt;
            if (byte != frame::kTrailer) {
                return kDiagBadTrailer;
            }
            buffer[st.count++] = byte;
            return kDiagFrame;
        default:
            st.state = kHunt;
            return kDiagBadState;
    }
}

uint32_t DiagProto::CopyMessage(uint8_t* dest, uint32_t maxCount) const {
    std::memcpy(dest, buffer_, std::min<uint32_t>(state_.total, maxCount));
    return state_.total;
}

size_t DiagProto::QuietRun(const uint8_t* bytes, size_t n) const {
    if (state_.state == kHunt || state_.count == 0) {
        const void* sync = std::memchr(bytes, frame::kSync1, n);
        return sync == nullptr ? n : static_cast<size_t>(static_cast<const uint8_t*>(sync) - bytes);
    }
    if (state_.state == kInPayload && state_.count + 2 < state_.total) {
        return std::min<size_t>(n, state_.total - 2 - state_.count);
    }
    return 0;
}

void DiagProto::TakeQuietRun(const uint8_t* bytes, size_t n) {
    if (n == 0) {
        return;
    }
    if (state_.state == kHunt || state_.count == 0) {
        state_.state = kHunt;
        state_.count = 0;
        return;
    }
    std::memcpy(buffer_ + state_.count, bytes, n);
    uint8_t sum = state_.checksum;
    for (size_t i = 0; i < n; ++i) {
        sum ^= bytes[i];
    }
    state_.checksum = sum;
    state_.count = static_cast<uint16_t>(state_.count + n);
}
