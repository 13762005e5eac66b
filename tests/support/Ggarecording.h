#pragma once
// Recordings of GGA sentences with known positions, for the tests of the accuracy figures and
// the track export: real recording files, as File > Record and lctrovi record write them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "record/Recording.h"
#include "support/Nmeasentence.h"

namespace testsupport {

// A GGA sentence at the given position (degrees, metres above the ellipsoid less 47 m of
// geoid separation), fix quality and second of the day.
inline std::string GgaSentence(double latitudeDeg, double longitudeDeg, double heightM, int quality,
                               int second) {
    const auto angle = [](double degrees, int digits) {
        const double magnitude = std::fabs(degrees);
        const int whole = static_cast<int>(magnitude);
        char text[32];
        std::snprintf(text, sizeof text, "%0*d%011.8f", digits, whole, (magnitude - whole) * 60.0);
        return std::string(text);
    };
    char body[160];
    std::snprintf(body, sizeof body, "GPGGA,%02d%02d%02d.00,%s,%c,%s,%c,%d,09,0.9,%.3f,M,47.0,M,,",
                  second / 3600 % 24, second / 60 % 60, second % 60, angle(latitudeDeg, 2).c_str(),
                  latitudeDeg < 0 ? 'S' : 'N', angle(longitudeDeg, 3).c_str(), longitudeDeg < 0 ? 'W' : 'E',
                  quality, heightM - 47.0);
    return NmeaSentence(body);
}

// `count` GGA sentences a second of a receiver standing at 48.1173 N 11.5167 E, 566 m: its
// fixes scattered about half a metre across and a metre up and down (differential, and every
// fifth autonomous and twice as wide), reproducibly.
inline std::vector<std::string> StandingReceiverLines(int count) {
    constexpr double kMetresPerDegreeNorth = 111'200.0;
    constexpr double kMetresPerDegreeEast = 74'300.0;  // at 48 degrees north
    uint64_t state = 0x2545F4914F6CDD1DULL;
    const auto normal = [&state] {  // the sum of twelve uniforms, less six: close to normal
        double sum = 0;
        for (int i = 0; i < 12; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            sum += static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
        }
        return sum - 6.0;
    };
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        const bool autonomous = i % 5 == 4;
        const double spread = autonomous ? 2.0 : 1.0;
        const double east = 0.45 * spread * normal() + 0.1;
        const double north = 0.3 * spread * normal() - 0.05;
        const double up = 0.9 * spread * normal();
        lines.push_back(GgaSentence(48.1173 + north / kMetresPerDegreeNorth,
                                    11.5167 + east / kMetresPerDegreeEast, 566.0 + up, autonomous ? 1 : 2,
                                    50'400 + i));
    }
    return lines;
}

// Writes a recording that receives one line a second, starting on 2026-12-09 at 14:00 UTC.
inline void WriteLineRecording(const std::string& path, const std::vector<std::string>& lines) {
    std::vector<uint8_t> bytes;
    AppendRecordingHeader(bytes, {19200, 1'796'824'800'000'000, "test"});
    for (size_t i = 0; i < lines.size(); ++i) {
        AppendRecordingChunk(bytes, i * 1'000'000, reinterpret_cast<const uint8_t*>(lines[i].data()),
                             lines[i].size());
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport
