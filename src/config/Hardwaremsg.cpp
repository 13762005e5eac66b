#include "config/Hardwaremsg.h"

#include <cstring>

#include "proto/Bytes.h"
#include "proto/Messages.h"

namespace {
std::string FixedText(const uint8_t* p, size_t size) {
    const char* text = reinterpret_cast<const char*>(p);
    return {text, strnlen(text, size)};
}
}  // namespace

std::optional<HardwareInfo> DecodeHardwareInfo(const uint8_t* p, size_t length) {
    if (length < hardware::kUsedSize) {
        return std::nullopt;
    }
    HardwareInfo info;
    info.serialNumber = get_le32s(p + hardware::kSerialNumber);
    info.partNumber = FixedText(p + hardware::kPartNumber, hardware::kPartNumberSize);
    info.compatibility = FixedText(p + hardware::kCompatibility, hardware::kCompatibilitySize);
    info.versionNumber = get_le32s(p + hardware::kVersionNumber);
    return info;
}
