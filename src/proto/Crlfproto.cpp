#include "proto/Crlfproto.h"

#include <algorithm>
#include <cstring>

uint32_t CRLFProto::CopyMessage(uint8_t* dest, uint32_t maxCount) const {
    std::memcpy(dest, buffer_, std::min<uint32_t>(state_.count, maxCount));
    return state_.count;
}

size_t CRLFProto::QuietRun(const uint8_t* bytes, size_t n) const {
    constexpr uint8_t kInLine = 1;
    constexpr uint8_t kCR = 13;
    if (state_.state != kInLine || state_.count == 0 || state_.count >= kBufferSize) {
        return 0;
    }
    n = std::min<size_t>(n, kBufferSize - state_.count);
    const void* cr = std::memchr(bytes, kCR, n);
    return cr == nullptr ? n : static_cast<size_t>(static_cast<const uint8_t*>(cr) - bytes);
}

void CRLFProto::TakeQuietRun(const uint8_t* bytes, size_t n) {
    std::memcpy(buffer_ + state_.count, bytes, n);
    state_.count = static_cast<uint16_t>(state_.count + n);
}
