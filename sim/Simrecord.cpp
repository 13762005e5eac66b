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

const char* KindName(SimKind kind) {
    switch (kind) {
        case SimKind::kSentence:
            return "SENTENCE";
        case SimKind::kFrame:
            return "FRAME";
        case SimKind::kBytes:
            return "BYTES";
    }
    return "?";
}

}  // namespace

std::string FormatRecordEntry(const SimRecordEntry& entry) {
    char head[96];
    std::snprintf(head, sizeof head, "%lld.%03lld %s %s ", static_cast<long long>(entry.timeMs / 1000),
                  static_cast<long long>(entry.timeMs % 1000),
                  entry.direction == SimDirection::kSent ? "TX" : "RX", KindName(entry.kind));
    std::string line = head;
    if (entry.damaged) {
        line += "damaged ";
    }
    if (entry.sentBaud != entry.heardBaud) {
        std::snprintf(head, sizeof head, "%u>%u ", static_cast<unsigned>(entry.sentBaud),
                      static_cast<unsigned>(entry.heardBaud));
        line += head;
    }
    line += entry.kind == SimKind::kSentence ? SentenceText(entry.bytes) : Hex(entry.bytes);
    return line;
}
