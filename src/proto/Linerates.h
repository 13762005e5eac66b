#pragma once
// The line rates of the program, in one place.
#include <array>
#include <cstddef>
#include <cstdint>

// The rates the receiver's software runs at: its setup offers them, the port search tries
// them in this order.
inline constexpr std::array<uint32_t, 4> kReceiverRates = {4800, 9600, 19200, 38400};
// Every rate a line to a receiver takes: the receiver's, and the faster ones of its bootloader
// and of device servers.
inline constexpr std::array<uint32_t, 6> kLineRates = {4800, 9600, 19200, 38400, 57600, 115200};
// Where 19200, the receiver's rate when nothing else is known, stands in both lists.
inline constexpr size_t kLineRateIndex19200 = 2;

template <size_t N>
constexpr bool IsOneOf(const std::array<uint32_t, N>& rates, uint32_t rate) {
    for (const uint32_t listed : rates) {
        if (listed == rate) {
            return true;
        }
    }
    return false;
}
