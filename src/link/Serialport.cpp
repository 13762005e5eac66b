#include "link/Serialport.h"

// The parts of SerialPort that every backend shares.

bool SerialPort::Open(const std::string& name, uint32_t baudRate, int parity) {
    if (open_ || !OpenDevice(name, baudRate, parity)) {
        return false;
    }
    SetName(name);
    CountLineChange();
    return true;
}

void SerialPort::Close() {
    CloseDevice();
}

namespace {
constexpr uint32_t kNotOpenCode = 9;  // EBADF, ERROR_INVALID_HANDLE's kin: a read on no device
}  // namespace

bool SerialPort::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (!open_) {
        if (received != nullptr) {
            *received = 0;
        }
        RecordError(kNotOpenCode, "The port is not open");
        return false;
    }
    if (!ReadDevice(buffer, capacity, received, waitMs)) {
        return false;
    }
    StampReadNow();
    return true;
}

bool SerialPort::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    return WriteDevice(buffer, count, written);
}

bool SerialPort::SetBaudRate(uint32_t baudRate) {
    if (!SetDeviceRate(baudRate)) {
        return false;
    }
    CountLineChange();
    return true;
}

void SerialPort::Purge() {
    PurgeDevice();
}
