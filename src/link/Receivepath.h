#pragma once
// The one way bytes from a line become messages: read, hand the bytes as read to the tap (a
// recording), start both framers afresh when the line has changed (another port or rate: a
// half frame of the old one would swallow the next reply), and feed the bytes through the
// framers in the receive loop's order to the caller's handlers. The window, the tool's
// commands, the port search, the receiver queries and the replays all receive through it.
//
// Handlers get the framer that completed (a frame from its first sync byte, or a line with
// its CR LF); TimeUs() tells when its bytes arrived.
#include <cstdint>
#include <functional>

#include "link/Line.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Receivepump.h"

class ReceivePath {
  public:
    static constexpr uint32_t kReadSize = 1024;

    enum class Result {
        kData,     // bytes came (Drain: and more may be waiting)
        kNothing,  // the wait ended without a byte (Drain: the line holds nothing more)
        kLost,     // the line failed; its LastErrorText says why
        kEnded,    // a replay played its last byte
    };

    // Gets every run of bytes as read, with the time it arrived (microseconds since 1970 UTC).
    using Tap = std::function<void(const uint8_t* bytes, size_t count, int64_t timeUs)>;
    void SetTap(Tap tap) { tap_ = std::move(tap); }

    // One read, waiting at most waitMs (in the line's blocking mode), and every message it
    // completes handed on.
    template <class OnFrame, class OnLine>
    Result Pump(Line& line, int32_t waitMs, OnFrame&& onFrame, OnLine&& onLine);
    // Reads without waiting until the line holds nothing more, or until maxBytes have been
    // taken (kData: stopped at the bound with more perhaps waiting).
    template <class OnFrame, class OnLine>
    Result Drain(Line& line, uint32_t maxBytes, OnFrame&& onFrame, OnLine&& onLine);

    // When the bytes being handed on arrived (microseconds since 1970 UTC).
    int64_t TimeUs() const { return timeUs_; }
    // Bytes read so far, whether or not they made a frame or a line.
    uint64_t BytesReceived() const { return bytesReceived_; }
    // Both framers afresh, as for a new line.
    void Restart();

    DiagProto& Diag() { return diag_; }
    CRLFProto& Crlf() { return crlf_; }

  private:
    // Reads once; kData with `received` set, or why nothing came.
    Result ReadOnce(Line& line, int32_t waitMs, uint32_t& received);

    DiagProto diag_;
    CRLFProto crlf_;
    uint8_t buffer_[kReadSize] = {};
    uint32_t framedLineChanges_ = 0;
    int64_t timeUs_ = 0;
    uint64_t bytesReceived_ = 0;
    Tap tap_;
};

template <class OnFrame, class OnLine>
ReceivePath::Result ReceivePath::Pump(Line& line, int32_t waitMs, OnFrame&& onFrame, OnLine&& onLine) {
    uint32_t received = 0;
    const Result result = ReadOnce(line, waitMs, received);
    if (result == Result::kData) {
        feed_received_bytes(diag_, crlf_, buffer_, received, onFrame, onLine);
    }
    return result;
}

template <class OnFrame, class OnLine>
ReceivePath::Result ReceivePath::Drain(Line& line, uint32_t maxBytes, OnFrame&& onFrame, OnLine&& onLine) {
    uint64_t taken = 0;
    for (;;) {
        uint32_t received = 0;
        const Result result = ReadOnce(line, 0, received);
        if (result != Result::kData) {
            return result;
        }
        feed_received_bytes(diag_, crlf_, buffer_, received, onFrame, onLine);
        taken += received;
        if (taken >= maxBytes) {
            return Result::kData;
        }
    }
}
