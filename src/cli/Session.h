#pragma once
// The session of one command: the line at the given device and rate, received through the
// receive path, and bounded waits for a reply of a given id.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "link/Anyline.h"
#include "link/Receivepath.h"

// Where a command talks to the receiver: --device (required) and --baud (19200 unless given).
struct Endpoint {
    std::string device;
    uint32_t baud = 19200;
    bool baudGiven = false;  // --baud was on the command line
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

    // Opens the device, with whatever it held before discarded; prints "Error opening device
    // ..." with the system's text on failure.
    bool Open(const Endpoint& endpoint);
    AnyLine& Port() { return port_; }
    const std::string& Device() const { return device_; }
    uint32_t Baud() const { return baud_; }
    // "19200 baud", or what a line of fixed rate runs at: its server's rate.
    std::string RateText() const;
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
    // Receives as monitor does until `stop` says so or `seconds` have passed (kExitOk), or
    // until not a byte has come for five seconds or the line is lost for good (kExitFailed,
    // said on standard error); a line to a device server that drops is brought back first.
    // `afterRead`, when given, runs after every read; false from it ends with kExitFailed.
    int ReceiveFor(std::optional<int64_t> seconds, const std::function<bool()>& stop,
                   const std::function<void(const DiagProto&)>& onFrame,
                   const std::function<void(const CRLFProto&)>& onLine,
                   const std::function<bool()>& afterRead = {});
    // After the line was lost while only receiving: a line to a device server is opened again
    // every two seconds, for at most giveUpMs or until `stop` says so, each step said on
    // standard error. True once it is back; false for any other line, or when it stays away.
    bool Reconnect(int64_t giveUpMs, const std::function<bool()>& stop);
    // Bytes read so far, whether or not they made a frame or a line.
    uint64_t BytesReceived() const { return receive_.BytesReceived(); }
    // When the bytes being handed on arrived (microseconds since 1970 UTC).
    int64_t ReceivedAtUs() const { return receive_.TimeUs(); }

    // Waits at most waitMs for a frame with the id and returns its payload.
    std::optional<std::vector<uint8_t>> AwaitFrame(uint8_t id, int64_t waitMs);
    // Asks for the message (again every second) and waits at most waitMs for it. Prints
    // "Receiver does not answer ..." when nothing came.
    std::optional<std::vector<uint8_t>> Request(uint8_t id, int64_t waitMs = kReplyWaitMs);
    // As Request, but prints nothing when no answer came (an answer that is only nice to have).
    std::optional<std::vector<uint8_t>> Ask(uint8_t id, int64_t waitMs = kReplyWaitMs);

    void ReportNoAnswer() const;

    // Hands every run of received bytes, as read and before framing, to `tap` (a recording).
    void SetReceiveTap(ReceivePath::Tap tap) { receive_.SetTap(std::move(tap)); }

  private:
    AnyLine port_;
    ReceivePath receive_;
    std::string device_;
    uint32_t baud_ = 0;
    bool lost_ = false;
};

template <class OnFrame, class OnLine>
bool Session::Pump(int32_t waitMs, OnFrame&& onFrame, OnLine&& onLine) {
    const ReceivePath::Result result = receive_.Pump(port_, waitMs, onFrame, onLine);
    if (result == ReceivePath::Result::kLost || result == ReceivePath::Result::kEnded) {
        lost_ = true;
        return false;
    }
    return true;
}
