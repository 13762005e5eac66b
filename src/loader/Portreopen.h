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

// Closes an open port once a command frame has had time to leave at `currentBaud`, then opens
// the device at `baud`. Any port class with the serial port's Open, Close and IsOpen will do.
// An open network line changes its rate in place instead: closing it would end the
// connection, and the server would drop what it still holds for the receiver.
template <class Port>
bool ReopenPortAt(Port& port, const std::string& device, int32_t currentBaud, uint32_t baud, Clock& clock) {
    if constexpr (requires { port.IsNetworkLine(); }) {
        if (port.IsOpen() && port.IsNetworkLine()) {
            if (currentBaud > 0) {
                clock.SleepMs(CommandFrameWireMs(currentBaud));
            }
            return port.SetBaudRate(baud);
        }
    }
    if (port.IsOpen()) {
        if (currentBaud > 0) {
            clock.SleepMs(CommandFrameWireMs(currentBaud));
        }
        port.Close();
    }
    return port.Open(device, baud, 0);
}
