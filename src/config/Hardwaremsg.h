#pragma once
// The hardware identity message (218).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct HardwareInfo {
    int32_t serialNumber = 0;
    std::string partNumber;     // at most 16 characters, to the first zero
    std::string compatibility;  // at most 5 characters, to the first zero
    int32_t versionNumber = 0;
};

// Reads a 218 payload; nothing when it is too short to hold the fields read.
std::optional<HardwareInfo> DecodeHardwareInfo(const uint8_t* payload, size_t length);
