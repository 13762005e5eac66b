#pragma once
// Writes S-record text for tests: one record, or an image of S3 records with an end record,
// and the same pseudo-random image bytes for the same start value.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

inline int SrecAddressWidth(int type) {
    if (type == 0 || type == 1 || type == 9) {
        return 2;
    }
    if (type == 2 || type == 8) {
        return 3;
    }
    return (type == 3 || type == 7) ? 4 : 0;
}

inline std::string MakeSrecLine(int type, uint32_t address, const std::vector<uint8_t>& data,
                                const std::string& lineEnd = "\r\n") {
    static const char* const kDigits = "0123456789ABCDEF";
    std::vector<uint8_t> bytes;
    const int width = SrecAddressWidth(type);
    bytes.push_back(static_cast<uint8_t>(width + data.size() + 1));
    for (int i = width - 1; i >= 0; --i) {
        bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(~sum));
    std::string line = "S";
    line += kDigits[type & 15];
    for (uint8_t b : bytes) {
        line += kDigits[b >> 4];
        line += kDigits[b & 15];
    }
    return line + lineEnd;
}

// S3 records of at most 32 data bytes for each (address, data), in the order given, and an S7.
inline std::string MakeSrecImage(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& chunks,
                                 const std::string& lineEnd) {
    std::string text;
    for (const auto& [address, data] : chunks) {
        if (data.empty()) {
            text += MakeSrecLine(3, address, {}, lineEnd);
        }
        for (size_t at = 0; at < data.size(); at += 32) {
            const size_t n = std::min<size_t>(32, data.size() - at);
            text += MakeSrecLine(3, address + static_cast<uint32_t>(at),
                                 std::vector<uint8_t>(data.begin() + at, data.begin() + at + n), lineEnd);
        }
    }
    return text + MakeSrecLine(7, 0, {}, lineEnd);
}

inline std::vector<uint8_t> RandomBytes(size_t count, unsigned start) {
    std::vector<uint8_t> data(count);
    std::mt19937 rng(start);
    for (auto& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    return data;
}
