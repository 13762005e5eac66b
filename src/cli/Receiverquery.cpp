#include "cli/Receiverquery.h"

#include <algorithm>

#include "base/Clock.h"
#include "config/Configmsg.h"
#include "link/Receivepath.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {
constexpr int64_t kRepeatMs = 1000;
constexpr int32_t kReadSliceMs = 50;
}  // namespace

bool AwaitReply(Line& port, ReceivePath& receive, uint8_t id, int64_t until,
                std::optional<std::vector<uint8_t>>& payload) {
    Clock& clock = CurrentClock();
    const auto onFrame = [&](const DiagProto& diag) {
        const uint8_t* frame = diag.MessageData();
        const uint16_t length = diag.MessageLength();
        if (!payload && length >= frame::kOverhead && frame[frame::kIdOffset] == id) {
            payload.emplace(frame + frame::kPayloadOffset, frame + length - 2);
        }
    };
    while (!payload && clock.MonotonicMs() < until) {
        const ReceivePath::Result result = receive.Pump(port, kReadSliceMs, onFrame, [](const CRLFProto&) {});
        if (result == ReceivePath::Result::kLost || result == ReceivePath::Result::kEnded) {
            return false;
        }
    }
    return true;
}

std::optional<std::vector<uint8_t>> AskQuietly(Line& port, uint8_t id, int64_t waitMs) {
    std::optional<std::vector<uint8_t>> payload;
    ReceivePath receive;
    Clock& clock = CurrentClock();
    const int64_t end = clock.MonotonicMs() + waitMs;
    for (int64_t now = clock.MonotonicMs(); !payload && now < end; now = clock.MonotonicMs()) {
        uint8_t request[request::kFrameLength];
        if (!port.Write(request, build_request_frame(id, request::kStandardMode, 0, request)) ||
            !AwaitReply(port, receive, id, std::min(end, now + kRepeatMs), payload)) {
            break;
        }
    }
    return payload;
}

std::optional<RunningSoftware> AskVersion(Line& port, int64_t waitMs) {
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
