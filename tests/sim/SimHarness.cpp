#include "SimHarness.h"

#include <cerrno>
#include <chrono>

#include "proto/Bytes.h"
#include "proto/Frame.h"

namespace {

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Bytes Build(uint8_t id, const Bytes& payload) {
    Bytes out(payload.size() + frame::kOverhead);
    build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), out.data());
    return out;
}

}  // namespace

SimOptions FastOptions() {
    SimOptions options;
    options.timing.timeScale = 0.1;
    return options;
}

bool SimLink::Open(const std::string& device, uint32_t baud) {
    port_.Close();
    diag_.Reset();
    crlf_.Reset();
    frames.clear();
    lines.clear();
    raw.clear();
    port_.SetBlocking(true);  // reads wait for their first byte, within the limit given
    if (!port_.Open(device, baud)) {
        return false;
    }
    port_.Purge();
    return true;
}

void SimLink::Send(const Bytes& frame) {
    port_.Write(frame.data(), static_cast<uint32_t>(frame.size()));
}

bool SimLink::ReadOnce(int waitMs) {
    uint8_t buffer[1024];
    uint32_t received = 0;
    if (!port_.Read(buffer, sizeof buffer, &received, waitMs)) {
        return port_.LastErrorCode() == ETIMEDOUT;  // a quiet line is not a failed one
    }
    for (uint32_t i = 0; i < received; ++i) {
        raw.push_back(buffer[i]);
        if (diag_.ProcessByte(buffer[i])) {
            frames.emplace_back(diag_.MessageData(), diag_.MessageData() + diag_.MessageLength());
        }
        if (crlf_.ProcessByte(buffer[i])) {
            lines.emplace_back(reinterpret_cast<const char*>(crlf_.MessageData()), crlf_.MessageLength());
        }
    }
    return true;
}

std::optional<Bytes> SimLink::AwaitFrame(const std::function<bool(const Bytes&)>& match, int timeoutMs) {
    const int64_t deadline = SteadyMs() + timeoutMs;
    size_t seen = 0;
    while (true) {
        for (; seen < frames.size(); ++seen) {
            if (match(frames[seen])) {
                Bytes found = frames[seen];
                frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(seen + 1));
                return found;
            }
        }
        const int64_t left = deadline - SteadyMs();
        if (left <= 0 || !ReadOnce(static_cast<int>(std::min<int64_t>(left, 50)))) {
            return std::nullopt;
        }
    }
}

std::optional<Bytes> SimLink::AwaitFrameId(uint8_t id, int timeoutMs) {
    return AwaitFrame([id](const Bytes& f) { return FrameId(f) == id; }, timeoutMs);
}

std::optional<Bytes> SimLink::AwaitX1fResult(int timeoutMs, int* workingSeen) {
    const auto isResult = [workingSeen](const Bytes& f) {
        if (FrameId(f) != msgid::kBootloader) {
            return false;
        }
        if (X1fCode(f) == x1f::kWorking) {
            if (workingSeen != nullptr) {
                ++*workingSeen;
            }
            return false;
        }
        return true;
    };
    return AwaitFrame(isResult, timeoutMs);
}

void SimLink::Collect(int durationMs) {
    const int64_t deadline = SteadyMs() + durationMs;
    for (int64_t left = durationMs; left > 0; left = deadline - SteadyMs()) {
        if (!ReadOnce(static_cast<int>(std::min<int64_t>(left, 50)))) {
            return;
        }
    }
}

Bytes RequestFrame(uint8_t requestedId) {
    Bytes out(request::kFrameLength);
    build_request_frame(requestedId, request::kStandardMode, 0, out.data());
    return out;
}

Bytes ConfigPayload(uint8_t command, uint8_t calibration) {
    Bytes p(config::kPayloadSize, 0);
    p[config::kCommand] = command;
    p[config::kCalibrationCommand] = calibration;
    return p;
}

Bytes ConfigFrame(const Bytes& payload) {
    return Build(msgid::kConfig, payload);
}

Bytes CalibrationFrame(uint8_t calibrationCommand) {
    return ConfigFrame(ConfigPayload(config::kCommandNone, calibrationCommand));
}

Bytes X1fFrame(uint8_t code, uint32_t value, const Bytes& data) {
    Bytes p(x1f::kPayloadSize, 0);
    p[x1f::kCode] = code;
    put_le16(&p[x1f::kDataLength], static_cast<uint16_t>(data.size()));
    put_le32(&p[x1f::kValue], value);
    std::copy(data.begin(), data.end(), p.begin() + x1f::kData);
    return Build(msgid::kBootloader, p);
}

uint8_t X1fCode(const Bytes& f) {
    return Payload(f)[x1f::kCode];
}

uint32_t X1fValue(const Bytes& f) {
    return get_le32(Payload(f) + x1f::kValue);
}

std::function<bool(const Bytes&)> IsConfigWithState(int value) {
    return [value](const Bytes& f) {
        return FrameId(f) == msgid::kConfig &&
               (value < 0 || Payload(f)[config::kCalibrationCommand] == value);
    };
}
