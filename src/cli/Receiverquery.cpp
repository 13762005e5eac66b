#include "cli/Receiverquery.h"

#include <algorithm>

#include "base/Clock.h"
#include "config/Configmsg.h"
#include "loader/Loadsequence.h"
#include "proto/Diagproto.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {
constexpr int64_t kRepeatMs = 1000;
constexpr int32_t kReadSliceMs = 50;

// Waits until `until` for a frame with the id; false when the port failed.
bool AwaitFrame(SerialPort& port, uint8_t id, int64_t until, std::optional<std::vector<uint8_t>>& payload) {
    Clock& clock = CurrentClock();
    DiagFrameState parser;
    uint8_t message[DiagProto::kBufferSize];
    uint8_t buffer[256];
    while (!payload && clock.MonotonicMs() < until) {
        uint32_t received = 0;
        if (!port.Read(buffer, sizeof buffer, &received, kReadSliceMs)) {
            if (!IsReadTimeoutCode(port.LastErrorCode())) {
                return false;
            }
            received = 0;
        }
        for (uint32_t i = 0; i < received && !payload; ++i) {
            if (diag_frame_step(buffer[i], parser, message, sizeof message) == kDiagFrame &&
                parser.total >= frame::kOverhead && message[frame::kIdOffset] == id) {
                payload.emplace(message + frame::kPayloadOffset, message + parser.total - 2);
            }
        }
    }
    return true;
}
}  // namespace

std::optional<std::vector<uint8_t>> AskQuietly(SerialPort& port, uint8_t id, int64_t waitMs) {
    std::optional<std::vector<uint8_t>> payload;
    Clock& clock = CurrentClock();
    const int64_t end = clock.MonotonicMs() + waitMs;
    for (int64_t now = clock.MonotonicMs(); !payload && now < end; now = clock.MonotonicMs()) {
        uint8_t request[request::kFrameLength];
        if (!port.Write(request, build_request_frame(id, request::kStandardMode, 0, request)) ||
            !AwaitFrame(port, id, std::min(end, now + kRepeatMs), payload)) {
            break;
        }
    }
    return payload;
}

std::optional<RunningSoftware> AskVersion(SerialPort& port, int64_t waitMs) {
    const auto payload = AskQuietly(port, msgid::kConfig, waitMs);
    if (!payload) {
        return std::nullopt;
    }
    const auto version = DecodeVersion(payload->data(), payload->size());
    const auto mask = DecodeNmeaMask(payload->data(), payload->size());
    if (!version || !mask) {
        return std::nullopt;
    }
    return RunningSoftware{version->Text(), *mask};
}
