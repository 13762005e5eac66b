#pragma once
// Sentences as a receiver sends them, for tests that build their own.
#include <cstdio>
#include <string>

namespace testsupport {

// "$BODY*CS\r\n" with its checksum.
inline std::string NmeaSentence(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

}  // namespace testsupport
