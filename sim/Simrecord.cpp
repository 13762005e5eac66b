#include "sim/Simrecord.h"

#include <cstdio>

namespace {

std::string SentenceText(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (b == '\r' || b == '\n') {
            continue;
        }
        if (b < 0x20 || b > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
            text += escaped;
        } else {
            text += static_cast<char>(b);
        }
    }
    return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    char pair[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

}  // namespace

std::string FormatRecordEntry(const SimRecordEntry& entry) {
    char head[64];
    std::snprintf(head, sizeof head, "%lld.%03lld %s %s ", static_cast<long long>(entry.timeMs / 1000),
                  static_cast<long long>(entry.timeMs % 1000),
                  entry.direction == SimDirection::kSent ? "TX" : "RX",
                  entry.kind == SimKind::kSentence ? "SENTENCE" : "FRAME");
    std::string line = head;
    if (entry.damaged) {
        line += "damaged ";
    }
    line += entry.kind == SimKind::kSentence ? SentenceText(entry.bytes) : Hex(entry.bytes);
    return line;
}
