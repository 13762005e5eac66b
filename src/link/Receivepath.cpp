#include "link/Receivepath.h"

void ReceivePath::Restart() {
    diag_.Reset();
    crlf_.Reset();
}

ReceivePath::Result ReceivePath::ReadOnce(Line& line, int32_t waitMs, uint32_t& received) {
    received = 0;
    if (!line.Read(buffer_, kReadSize, &received, waitMs)) {
        if (line.Ended()) {
            return Result::kEnded;
        }
        return IsReadTimedOut(line) ? Result::kNothing : Result::kLost;
    }
    if (received == 0) {
        return Result::kNothing;
    }
    if (line.LineChanges() != framedLineChanges_) {
        framedLineChanges_ = line.LineChanges();
        Restart();
    }
    timeUs_ = line.ReadTimeUs();
    bytesReceived_ += received;
    if (tap_) {
        tap_(buffer_, received, timeUs_);
    }
    return Result::kData;
}
