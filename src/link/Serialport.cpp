#include "link/Serialport.h"

#include <cerrno>

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

bool SerialPort::PermissionDenied() const {
#ifdef _WIN32
    return false;  // Windows says "access denied" for a port in use: no matter of permission
#else
    return lastErrorCode_ == static_cast<uint32_t>(EACCES);
#endif
}

void SerialPort::RecordError(uint32_t code, const std::string& text) {
    lastErrorCode_ = code;
    lastErrorText_ = text;
}
