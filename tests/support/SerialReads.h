#pragma once
// One read of a serial port in a test, as the bytes it gave.
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

}  // namespace testsupport
