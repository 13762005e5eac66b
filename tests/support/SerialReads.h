#pragma once
// One read of a serial port in a test, as the bytes it gave, and a watch to time it by.
#include <chrono>
#include <cstdint>
#include <vector>

#include "link/Serialport.h"

namespace testsupport {

// Reads at most `capacity` bytes, waiting at most `waitMs`; `ok` (may be null) gets Read's
// result. A failed read gives no bytes.
inline std::vector<uint8_t> ReadBytes(SerialPort& port, uint32_t capacity, int32_t waitMs,
                                      bool* ok = nullptr) {
    std::vector<uint8_t> bytes(capacity);
    uint32_t count = 12345;  // Read must set it
    const bool result = port.Read(bytes.data(), capacity, &count, waitMs);
    if (ok != nullptr) {
        *ok = result;
    }
    bytes.resize(result ? count : 0);
    return bytes;
}

// Milliseconds since it was made.
class Stopwatch {
  public:
    int64_t ElapsedMs() const {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now() - start_).count();
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace testsupport
