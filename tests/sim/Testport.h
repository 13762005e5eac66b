#pragma once
// The program's side of the line for the simulator tests: a POSIX serial port on the
// pseudo-terminal's slave, with the method names of the serial layer's SerialPort.
#include <cstdint>
#include <string>

class TestPort {
  public:
    TestPort() = default;
    ~TestPort() { Close(); }
    TestPort(const TestPort&) = delete;
    TestPort& operator=(const TestPort&) = delete;

    bool Open(const std::string& name, uint32_t baudRate, int parity = 0);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Waits up to waitMs (-1: no limit) for the first byte, then takes what is there.
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs);
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr);
    void SetBlocking(bool blocking) { blocking_ = blocking; }
    bool SetBaudRate(uint32_t baudRate);
    void Purge();

  private:
    int fd_ = -1;
    bool blocking_ = false;
};
