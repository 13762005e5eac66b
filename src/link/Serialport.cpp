#include "link/Serialport.h"

#include "link/Netaddress.h"
#include "link/Netline.h"

#include <cerrno>
#include <memory>

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

// A network address opens a network line; any other name goes to the platform's backend.
bool SerialPort::Open(const std::string& name, uint32_t baudRate, int parity) {
    if (open_) {
        return false;
    }
    return IsNetworkDevice(name) ? OpenNetwork(name, baudRate, parity) : OpenDevice(name, baudRate, parity);
}

bool SerialPort::OpenNetwork(const std::string& name, uint32_t baudRate, int parity) {
    auto line = std::make_unique<NetLine>();
    if (!line->Open(name, baudRate, parity)) {
        RecordError(line->LastError().code, line->LastError().text);
        return false;
    }
    net_ = std::move(line);
    open_ = true;
    ++lineChanges_;
    return true;
}

void SerialPort::Close() {
    if (net_) {
        net_.reset();
        open_ = false;
        return;
    }
    CloseDevice();
}

bool SerialPort::NetResult(bool ok) {
    if (!ok) {
        RecordError(net_->LastError().code, net_->LastError().text);
    }
    return ok;
}

bool SerialPort::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (net_) {
        return NetResult(net_->Read(buffer, capacity, received, waitMs, blocking_));
    }
    return ReadDevice(buffer, capacity, received, waitMs);
}

bool SerialPort::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    if (net_) {
        return NetResult(net_->Write(buffer, count, written, blocking_));
    }
    return WriteDevice(buffer, count, written);
}

bool SerialPort::SetBaudRate(uint32_t baudRate) {
    if (!net_) {
        return SetDeviceRate(baudRate);
    }
    if (!NetResult(net_->SetBaudRate(baudRate))) {
        return false;
    }
    ++lineChanges_;
    return true;
}

void SerialPort::Purge() {
    if (net_) {
        net_->Purge();
        return;
    }
    PurgeDevice();
}
