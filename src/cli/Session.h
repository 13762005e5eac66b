#pragma once
// The serial session of one command: the port at the given device and rate, the two framers
// fed in the receive loop's order, and bounded waits for a reply of a given id.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "link/Port.h"
#include "link/Serialport.h"
#include "loader/Loadsequence.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Receivepump.h"

// Where a command talks to the receiver: --device (required) and --baud (19200 unless given).
struct Endpoint {
    std::string device;
    uint32_t baud = 19200;
};

// Reads --device and --baud; prints why and gives nothing when they are missing or invalid.
std::optional<Endpoint> ReadEndpoint(const CliArgs& args);

class Session;

// Reads --device and --baud and opens the session on them. kExitOk, or the exit status of
// the command when either step failed (the reason has been printed).
int OpenSession(const CliArgs& args, Session& session);

class Session {
  public:
    static constexpr int64_t kReplyWaitMs = 3000;
    static constexpr int64_t kRequestRepeatMs = 1000;

    // Opens the device; prints "Error opening device ..." with the system's text on failure.
    bool Open(const Endpoint& endpoint);
    SerialPort& Port() { return port_; }
    const std::string& Device() const { return device_; }
    uint32_t Baud() const { return baud_; }
    // Changes the rate of the open port; prints "Error changing baud rate: " and why on failure.
    bool ChangeBaud(uint32_t baud);

    bool Send(const uint8_t* frame, uint16_t length);
    // Writes message 16 asking for the message `id`.
    bool SendRequest(uint8_t id);

    // Reads what arrives within waitMs and hands each frame (whole, from its first sync byte)
    // and each completed line over. False when the port failed; Lost() then says so.
    template <class OnFrame, class OnLine>
    bool Pump(int32_t waitMs, OnFrame&& onFrame, OnLine&& onLine);
    bool Lost() const { return lost_; }
    // Bytes read so far, whether or not they made a frame or a line.
    uint64_t BytesReceived() const { return bytesReceived_; }

    // Waits at most waitMs for a frame with the id and returns its payload.
    std::optional<std::vector<uint8_t>> AwaitFrame(uint8_t id, int64_t waitMs);
    // Asks for the message (again every second) and waits at most waitMs for it. Prints
    // "Receiver does not answer ..." when nothing came.
    std::optional<std::vector<uint8_t>> Request(uint8_t id, int64_t waitMs = kReplyWaitMs);
    // As Request, but prints nothing when no answer came (an answer that is only nice to have).
    std::optional<std::vector<uint8_t>> Ask(uint8_t id, int64_t waitMs = kReplyWaitMs);

    void ReportNoAnswer() const;

    // Hands every run of received bytes, as read and before framing, to `tap` (a recording).
    void SetReceiveTap(std::function<void(const uint8_t*, size_t)> tap) { tap_ = std::move(tap); }

  private:
    SerialPort port_;
    DiagProto diag_;
    CRLFProto crlf_;
    uint8_t buffer_[1024] = {};
    std::string device_;
    uint32_t baud_ = 0;
    bool lost_ = false;
    uint64_t bytesReceived_ = 0;
    uint32_t framedLineChanges_ = 0;
    std::function<void(const uint8_t*, size_t)> tap_;
};

template <class OnFrame, class OnLine>
bool Session::Pump(int32_t waitMs, OnFrame&& onFrame, OnLine&& onLine) {
    uint32_t received = 0;
    if (!port_.Read(buffer_, sizeof buffer_, &received, waitMs)) {
        if (!IsReadTimeoutCode(port_.LastErrorCode())) {
            lost_ = true;
            return false;
        }
        received = 0;
    }
    bytesReceived_ += received;
    if (tap_ && received > 0) {
        tap_(buffer_, received);
    }
    ResetFramersOnLineChange(port_, framedLineChanges_, diag_, crlf_);
    feed_received_bytes(diag_, crlf_, buffer_, received, onFrame, onLine);
    return true;
}
