#pragma once
// A recording such as a receiver at 5 Hz makes: each fix six sentences (GGA, GSA, ZDA, VTG,
// RMC and SNR) and one binary message, each read as its own chunk at its time on a 38400-baud
// line. Counts what a display shows, so a replay can be checked against it. The position
// wanders by up to about two metres, so the accuracy figures have a spread to compute.
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
    uint32_t wander = 12345;  // a fixed linear congruential sequence: the same file every run
    const auto next = [&wander](unsigned span) {
        wander = wander * 1'103'515'245u + 12'345u;
        return (wander >> 16) % span;
    };
    for (uint64_t fix = 0; fix < seconds * 5; ++fix) {
        const unsigned s = static_cast<unsigned>(fix / 5 % 86400);
        char t[16];
        std::snprintf(t, sizeof t, "%02u%02u%02u.%02u", s / 3600, s / 60 % 60, s % 60,
                      static_cast<unsigned>(fix % 5 * 20));
        const std::string ts(t);
        char lat[16];
        char lon[16];
        char height[8];
        std::snprintf(lat, sizeof lat, "4807.%05u", 25259 + next(200));
        std::snprintf(lon, sizeof lon, "01131.%05u", 294 + next(200));
        std::snprintf(height, sizeof height, "%.1f", 514.0 + next(100) / 10.0);
        const std::string place = std::string(lat) + ",N," + lon + ",E";
        const std::vector<std::string> sentences = {
            WithChecksum("GPGGA," + ts + "," + place + ",2,09,0.9," + height + ",M,47.0,M,3.0,0120"),
            WithChecksum("GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5"),
            WithChecksum("GPZDA," + ts + ",09,12,2026,00,00"),
            WithChecksum("GPVTG,90.3,T,,M,11.66,N,21.59,K,D"),
            WithChecksum("GPRMC," + ts + ",A," + place + ",11.66,90.3,091226,,,D"),
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
