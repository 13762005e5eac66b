#pragma once
// What the simulator tests share: a receiver started with fast timings, the program's side of
// the line on its pseudo-terminal, and the frames a program would send.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/Serialport.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Messages.h"
#include "sim/Simreceiver.h"

using Bytes = std::vector<uint8_t>;

// Every delay a tenth of real time; the defaults of SimTiming otherwise.
SimOptions FastOptions();

// The port on the simulator's device, with the program's two framers behind it.
class SimLink {
  public:
    bool Open(const std::string& device, uint32_t baud);
    bool SetBaud(uint32_t baud) { return port_.SetBaudRate(baud); }
    void Send(const Bytes& frame);

    // Reads until a frame satisfying match arrives (returned) or timeoutMs pass (nullopt).
    std::optional<Bytes> AwaitFrame(const std::function<bool(const Bytes&)>& match, int timeoutMs = 3000);
    std::optional<Bytes> AwaitFrameId(uint8_t id, int timeoutMs = 3000);
    // The next bootloader reply whose code is not X1F_WORKING, counting those it skipped.
    std::optional<Bytes> AwaitX1fResult(int timeoutMs, int* workingSeen = nullptr);
    // Reads for durationMs and keeps everything: frames, text lines and the raw bytes.
    void Collect(int durationMs);
    // False when the line failed (a hung-up device).
    bool ReadOnce(int waitMs);

    std::vector<Bytes> frames;
    std::vector<std::string> lines;
    Bytes raw;

  private:
    SerialPort port_;
    DiagProto diag_;
    CRLFProto crlf_;
};

Bytes RequestFrame(uint8_t requestedId);
// A message-216 payload with the given command byte and calibration command, all else zero.
Bytes ConfigPayload(uint8_t command = 0, uint8_t calibration = 0);
Bytes ConfigFrame(const Bytes& payload);
Bytes CalibrationFrame(uint8_t calibrationCommand);
// A 272-byte bootloader command.
Bytes X1fFrame(uint8_t code, uint32_t value, const Bytes& data = {});

inline uint8_t FrameId(const Bytes& f) {
    return f[frame::kIdOffset];
}
inline const uint8_t* Payload(const Bytes& f) {
    return f.data() + frame::kPayloadOffset;
}
uint8_t X1fCode(const Bytes& f);
uint32_t X1fValue(const Bytes& f);
// The frame of id 216 whose byte 73 is value, or any 216 when value is negative.
std::function<bool(const Bytes&)> IsConfigWithState(int value);
