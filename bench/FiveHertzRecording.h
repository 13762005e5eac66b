#pragma once
// A recording such as a receiver at 5 Hz makes: each fix six sentences (GGA, GSA, ZDA, VTG,
// RMC and SNR) and one binary message, each read as its own chunk at its time on a 38400-baud
// line. Counts what a display shows, so a replay can be checked against it.
#include <cstdio>
#include <string>
#include <vector>

#include "proto/Frame.h"
#include "record/Recording.h"

struct FiveHertzRecording {
    uint64_t fixes = 0;
    uint64_t lines = 0;  // display lines: sentences and binary messages
    uint64_t bytes = 0;
};

inline std::string WithChecksum(const std::string& body) {
    uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

inline FiveHertzRecording WriteFiveHertzRecording(const std::string& path, uint64_t seconds) {
    constexpr uint64_t kFixUs = 200'000;
    constexpr uint64_t kByteUs = 10 * 1'000'000 / 38400;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FiveHertzRecording made;
    if (file == nullptr) {
        return made;
    }
    std::vector<uint8_t> out;
    AppendRecordingHeader(out, {38400, 1'765'290'000'000'000, "/dev/ttyUSB0"});
    uint8_t payload[64] = {};
    uint8_t frame[128];
    for (uint64_t fix = 0; fix < seconds * 5; ++fix) {
        const unsigned s = static_cast<unsigned>(fix / 5 % 86400);
        char t[16];
        std::snprintf(t, sizeof t, "%02u%02u%02u.%02u", s / 3600, s / 60 % 60, s % 60,
                      static_cast<unsigned>(fix % 5 * 20));
        const std::string ts(t);
        const std::vector<std::string> sentences = {
            WithChecksum("GPGGA," + ts + ",4807.25359,N,01131.00394,E,2,09,0.9,519.0,M,47.0,M,3.0,0120"),
            WithChecksum("GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5"),
            WithChecksum("GPZDA," + ts + ",09,12,2026,00,00"),
            WithChecksum("GPVTG,90.3,T,,M,11.66,N,21.59,K,D"),
            WithChecksum("GPRMC," + ts + ",A,4807.25359,N,01131.00394,E,11.66,90.3,091226,,,D"),
            WithChecksum("PNSNR,92,11.6,44.3,38.7,1"),
        };
        uint64_t at = fix * kFixUs;
        for (const std::string& sentence : sentences) {
            at += sentence.size() * kByteUs;
            AppendRecordingChunk(out, at, reinterpret_cast<const uint8_t*>(sentence.data()), sentence.size());
            made.bytes += sentence.size();
        }
        payload[0] = static_cast<uint8_t>(fix);
        const uint16_t length = build_frame(20, payload, sizeof payload, frame);
        at += length * kByteUs;
        AppendRecordingChunk(out, at, frame, length);
        made.bytes += length;
        made.lines += sentences.size() + 1;
        ++made.fixes;
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
    return made;
}
