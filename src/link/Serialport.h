#pragma once
// The PC serial device through which traffic with a receiver on a local port passes: a line
// (Line.h) with one backend per platform, Serialport_posix.cpp and Serialport_win32.cpp.
//
// Line settings: 8 data bits, 1 stop bit, parity from the selector of Open (1 odd, 3 even,
// anything else none), no software or hardware flow control. The port is used exclusively:
// a second opener, in this program or another, is refused. A device that goes away while open
// (adapter pulled, far end of a pseudo-terminal closed) makes Read and Write fail at once;
// Close and Open work as usual afterwards.
#include <cstdint>
#include <memory>
#include <string>

#include "link/Line.h"

class SerialPort final : public Line {
  public:
    SerialPort();
    ~SerialPort() override;

    // Opens a device by name ("COM1", "ttyUSB0"; a POSIX name containing '/' is a path) at
    // the given rate, with whatever the device held before discarded.
    bool Open(const std::string& name, uint32_t baudRate, int parity = 0) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override;
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr) override;
    bool SetBaudRate(uint32_t baudRate) override;
    void Purge() override;

  private:
    struct Native;  // the platform's handle and records, defined by the backend

    // The platform backend's device operations.
    bool OpenDevice(const std::string& name, uint32_t baudRate, int parity);
    void CloseDevice();
    bool ReadDevice(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs);
    bool WriteDevice(const uint8_t* buffer, uint32_t count, uint32_t* written);
    bool SetDeviceRate(uint32_t baudRate);
    void PurgeDevice();

    void BlockingChanged() override { ApplyTimeoutMode(); }
    bool ApplyTimeoutMode();
    using Line::RecordError;
    // Records the system's error code with the system's text for it.
    void RecordError(uint32_t code);

    bool open_ = false;
    std::unique_ptr<Native> native_;
};
