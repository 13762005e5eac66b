#include "loader/X1f.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "proto/Bytes.h"
#include "proto/Frame.h"

const char* const kX1fNames[kX1fNameCount] = {
    "X1F_PING", "X1F_SETUP",   "X1F_LOAD",       "X1F_ERASE",     "X1F_PROGRAM", "X1F_SETBAUD", "X1F_START",
    "X1F_PEEK", "X1F_CRCANY",  "X1F_CRCBOOT",    "X1F_CRCNAV",    "X1F_CRCDIAG", "X1F_CRCRAM",  "X1F_PASS",
    "X1F_FAIL", "X1F_WORKING", "X1F_BADADDRESS", "X1F_BADLENGTH", "X1F_BADCMD",  "X1F_NOPROG",
};

namespace {

std::function<void(const std::string&)>& TraceSink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

}  // namespace

int x1f_name_index(uint8_t code) {
    if (code <= X1F_CRCRAM) {
        return code;
    }
    if (code >= X1F_PASS && code <= X1F_WORKING) {
        return code - 87;
    }
    if (code >= X1F_BADADDRESS && code <= X1F_NOPROG) {
        return code - 184;
    }
    return -1;
}

const char* x1f_name(uint8_t code) {
    const int index = x1f_name_index(code);
    return index < 0 ? "(unnamed)" : kX1fNames[index];
}

bool x1f_decode_payload(const uint8_t* payload, size_t count, X1fPayload& out) {
    if (count < x1f::kMinReplyPayload) {
        return false;
    }
    out = X1fPayload{};
    out.code = payload[x1f::kCode];
    out.flag = payload[x1f::kFlag];
    out.dataLength = get_le16(payload + x1f::kDataLength);
    out.value = get_le32(payload + x1f::kValue);
    const size_t dataCount = std::min<size_t>(count, x1f::kPayloadSize) - x1f::kData;
    std::memcpy(out.data, payload + x1f::kData, dataCount);
    return true;
}

uint16_t x1f_build_frame(uint8_t code, uint32_t value, const uint8_t* data, uint16_t length, uint8_t flag,
                         uint8_t* frame) {
    if (length > x1f::kDataSize) {
        return 0;
    }
    x1f_trace("Sent x1f: %s [%d] (%d) ", x1f_name(code), code, length);
    constexpr uint16_t kLength = x1f::kFrameLength;
    build_frame_header(msgid::kBootloader, kLength, frame, frame::kIdOffset, kLength - 1);
    uint8_t* payload = frame + frame::kPayloadOffset;
    payload[x1f::kCode] = code;
    payload[x1f::kFlag] = static_cast<uint8_t>(flag & 1);
    put_le16(payload + x1f::kDataLength, length);
    put_le32(payload + x1f::kValue, value);
    if (length > 0) {
        std::memcpy(payload + x1f::kData, data, length);
    }
    frame[kLength - 2] = xor_checksum(frame + frame::kIdOffset, kLength - 5);
    return kLength;
}

void x1f_trace(const char* format, ...) {
    const auto& sink = TraceSink();
    if (!sink) {
        return;
    }
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink(text);
}

void SetX1fTraceSink(std::function<void(const std::string&)> sink) {
    TraceSink() = std::move(sink);
}
