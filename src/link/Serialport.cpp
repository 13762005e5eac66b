#include "link/Serialport.h"

// The parts of SerialPort that every backend shares.

bool SerialPort::IsOpen() const {
    return open_;
}

void SerialPort::SetBlocking(bool blocking) {
    if (blocking == blocking_) {
        return;
    }
    blocking_ = blocking;
    // While closed this only remembers the choice; the next Open applies it.
    ApplyTimeoutMode();
}

void SerialPort::RecordError(uint32_t code, const std::string& text) {
    lastErrorCode_ = code;
    lastErrorText_ = text;
}
