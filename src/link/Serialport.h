#pragma once
// The PC serial device through which all traffic with the receiver passes.
//
// Line settings: 8 data bits, 1 stop bit, parity from the selector of Open (1 odd, 3 even,
// anything else none), no software or hardware flow control. The port is used exclusively:
// a second opener, in this program or another, is refused.
//
// Two time-out modes, chosen by SetBlocking (true until changed; the choice survives
// Close and Open):
//  - blocking: Read waits for the first byte (at most waitMs, -1 without limit) and then
//    returns once the line has been quiet for about a millisecond or the buffer is full;
//    Write has no time limit;
//  - non-blocking: Read returns at once with what has arrived, possibly nothing; Write may
//    take at most 2000 ms per byte plus 2000 ms.
//
// Failures return false and record the system's error code and text. A device that goes
// away while open (adapter pulled, far end of a pseudo-terminal closed) makes Read and
// Write fail at once; Close and Open work as usual afterwards.
//
// One backend per platform: Serialport_posix.cpp and Serialport_win32.cpp. A device named
// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" is a line reached over the network instead
// (link/Netline.h); it behaves as a device does, and a lost connection fails Read and Write
// with "connection closed by HOST:PORT".
#include <cstdint>
#include <memory>
#include <string>

class NetLine;

class SerialPort {
  public:
    SerialPort();
    // Closes the device. Virtual because Open and Close are.
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a device by name ("COM1", "ttyUSB0"; a POSIX name containing '/' is a path) at
    // the given rate. Refused (false, nothing changes) while already open.
    virtual bool Open(const std::string& name, uint32_t baudRate, int parity = 0);
    // Closes the device; harmless on a closed object.
    virtual void Close();
    bool IsOpen() const;

    // Reads at most `capacity` bytes; `received` (may be null) gets the count. The wait
    // applies in blocking mode only. A wait that ends before a byte arrived gives false.
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs);
    // Writes the whole buffer. False when the device fails or the write times out with
    // bytes left over; `written` (may be null) then says how many went out.
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr);
    void SetBlocking(bool blocking);
    // Changes only the rate of the open device; false on a closed one.
    bool SetBaudRate(uint32_t baudRate);
    // Discards what the driver holds in both directions.
    void Purge();

    // True while the open line is a network line: it changes rate in place (SetBaudRate),
    // without being closed and opened again, which would drop the connection.
    bool IsNetworkLine() const { return net_ != nullptr; }

    // Counts the opens and rate changes: a byte read before a change never belongs to the
    // same frame or line as one read after it.
    uint32_t LineChanges() const { return lineChanges_; }

    uint32_t LastErrorCode() const { return lastErrorCode_; }
    // True when the last failure was the user's lack of permission for the device; its text
    // then names the device's group and how to join it.
    bool PermissionDenied() const;
    const std::string& LastErrorText() const { return lastErrorText_; }

  private:
    struct Native;  // the platform's handle and records, defined by the backend

    // The platform backend's device operations.
    bool OpenDevice(const std::string& name, uint32_t baudRate, int parity);
    void CloseDevice();
    bool ReadDevice(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs);
    bool WriteDevice(const uint8_t* buffer, uint32_t count, uint32_t* written);
    bool SetDeviceRate(uint32_t baudRate);
    void PurgeDevice();
    bool OpenNetwork(const std::string& name, uint32_t baudRate, int parity);
    // Records the network line's last error and passes the result on.
    bool NetResult(bool ok);

    bool ApplyTimeoutMode();
    void RecordError(uint32_t code);
    void RecordError(uint32_t code, const std::string& text);

    bool open_ = false;
    bool blocking_ = true;
    uint32_t lineChanges_ = 0;
    std::unique_ptr<Native> native_;
    std::unique_ptr<NetLine> net_;  // set while a network line is open
    uint32_t lastErrorCode_ = 0;
    std::string lastErrorText_;
};
