#pragma once
// Reopening the port at another rate between bootloader commands. The loading dialog and
// the command-line tool share it.
#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "proto/Messages.h"

// The time one bootloader frame (command or reply) takes on the wire at the rate, plus a
// millisecond. A command written just before a rate change (X1F_SETBAUD) must leave at the
// old rate, and its answer comes at the old rate too.
inline int64_t CommandFrameWireMs(int32_t baud) {
    constexpr int64_t kBitsPerByte = 10;  // start, eight data bits, stop
    return baud > 0 ? int64_t{x1f::kFrameLength} * kBitsPerByte * 1000 / baud + 1 : 0;
}

// Takes the port to `baud` once a command frame has had time to leave at `currentBaud`: a
// port that knows how (a line: the serial device closes and opens again, a network line
// changes its rate in place) reopens itself; any other port class with the serial port's
// Open, Close and IsOpen is closed and opened at the device.
template <class Port>
bool ReopenPortAt(Port& port, const std::string& device, int32_t currentBaud, uint32_t baud, Clock& clock) {
    if (port.IsOpen() && currentBaud > 0) {
        clock.SleepMs(CommandFrameWireMs(currentBaud));
    }
    if constexpr (requires { port.Reopen(baud); }) {
        if (port.IsOpen()) {
            return port.Reopen(baud);
        }
    } else if (port.IsOpen()) {
        port.Close();
    }
    return port.Open(device, baud, 0);
}
