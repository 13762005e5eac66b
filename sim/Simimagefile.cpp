#include "sim/Simimagefile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

constexpr size_t kBytesPerRecord = 32;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool WantsSrec(const std::string& path) {
    for (const char* tail : {".hex", ".srec", ".s19", ".mot"}) {
        if (EndsWith(path, tail)) {
            return true;
        }
    }
    return false;
}

std::string S3Record(uint32_t address, const uint8_t* data, size_t count) {
    const auto byteCount = static_cast<unsigned>(count + 5);  // address(4) + data + checksum
    unsigned sum =
        byteCount + (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) + (address & 0xFF);
    char text[16];
    std::snprintf(text, sizeof text, "S3%02X%08X", byteCount, address);
    std::string line = text;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%02X", data[i]);
        line += text;
        sum += data[i];
    }
    std::snprintf(text, sizeof text, "%02X\r\n", ~sum & 0xFF);
    return line + text;
}

bool WriteSrec(const SimImage& image, std::ofstream& out) {
    for (const auto& [start, bytes] : image) {
        for (size_t offset = 0; offset < bytes.size(); offset += kBytesPerRecord) {
            const size_t count = std::min(kBytesPerRecord, bytes.size() - offset);
            out << S3Record(start + static_cast<uint32_t>(offset), bytes.data() + offset, count);
        }
    }
    out << "S70500000000FA\r\n";
    return static_cast<bool>(out);
}

bool WriteRaw(const SimImage& image, std::ofstream& out) {
    if (image.empty()) {
        return static_cast<bool>(out);
    }
    uint32_t next = image.begin()->first;
    for (const auto& [start, bytes] : image) {
        for (; next < start; ++next) {
            out.put(static_cast<char>(0xFF));
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        next = start + static_cast<uint32_t>(bytes.size());
    }
    return static_cast<bool>(out);
}

}  // namespace

bool WriteImageFile(const SimImage& image, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    return WantsSrec(path) ? WriteSrec(image, out) : WriteRaw(image, out);
}
