// Tracks: the date each fix gets, and the three formats read back by a real reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "geo/Trackwriter.h"
#include "support/Nmeasentence.h"

namespace {

constexpr int64_t kBeforeMidnightUs = 1'796'860'799'000'000;  // 2026-12-09 23:59:59 UTC
constexpr int64_t kHourUs = 3'600'000'000;

using testsupport::NmeaSentence;

std::string Gga(const std::string& time, int quality, const std::string& separation = "47.0") {
    return NmeaSentence("GPGGA," + time + ",4807.25359,N,01131.00394,E," + std::to_string(quality) +
                        ",09,0.9,519.0,M," + separation + ",M,3.0,0120");
}

struct Line {
    std::string text;
    int64_t arrivalUs;
};

std::string Described(const TrackFix& fix) {
    char height[32];
    std::snprintf(height, sizeof height, " h=%.1f", fix.HeightM().value_or(-1));
    return (fix.utcMs ? IsoUtcText(*fix.utcMs) : TimeOfDayText(fix.timeOfDayMs.value_or(0))) + height;
}

TEST(TrackReader, DatesEachFixByTheReceiverOrElseTheArrivalClock) {
    struct Case {
        const char* legend;
        bool utcArrival;
        std::vector<Line> lines;
        std::vector<std::string> fixes;
    };
    const int64_t t = kBeforeMidnightUs;
    const Case cases[] = {
        {"the receiver's date across midnight; the first fix waits for it",
         true,
         {{Gga("235959.80", 2), t + 800'000},
          {NmeaSentence("GPRMC,235959.80,A,4807.25359,N,01131.00394,E,0.0,0.0,091226,,,D"), t + 850'000},
          {Gga("000000.00", 2), t + 1'000'000},
          {Gga("000000.20", 2, ""), t + 1'200'000}},
         {"2026-12-09T23:59:59.8Z h=566.0", "2026-12-10T00:00:00Z h=566.0",
          "2026-12-10T00:00:00.2Z h=519.0"}},
        {"a PC clock ten hours ahead: the receiver's date still",
         true,
         {{NmeaSentence("GPZDA,235959.80,09,12,2026,00,00"), t + 10 * kHourUs + 800'000},
          {Gga("235959.80", 1), t + 10 * kHourUs + 850'000},
          {Gga("000000.80", 1), t + 10 * kHourUs + 1'800'000}},
         {"2026-12-09T23:59:59.8Z h=566.0", "2026-12-10T00:00:00.8Z h=566.0"}},
        {"no date from the receiver: the recording's clock, across midnight",
         true,
         {{Gga("235959.80", 1), t + 800'000}, {Gga("000000.00", 1), t + 1'000'000}},
         {"2026-12-09T23:59:59.8Z h=566.0", "2026-12-10T00:00:00Z h=566.0"}},
        {"a plain capture without a date: the time of day alone",
         false,
         {{Gga("235959.80", 1), 0}, {Gga("235960.50", 1), 700'000}},
         {"23:59:59.8 h=566.0", "23:59:60.5 h=566.0"}},
        {"an RMC warning's date is not taken, nor a GGA without a fix",
         false,
         {{NmeaSentence("GPRMC,235959.70,V,,,,,,,010180,,,N"), 0},
          {Gga("235959.70", 0), 10'000},
          {Gga("235959.80", 6), 100'000},
          {Gga("235959.90", 2).substr(0, 40) + "\r\n", 150'000},
          {NmeaSentence("GPZDA,235959.90,09,12,2026,00,00"), 200'000}},
         {"2026-12-09T23:59:59.8Z h=566.0"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> fixes;
        TrackReader reader([&](const TrackFix& fix) { fixes.push_back(Described(fix)); });
        for (const Line& line : c.lines) {
            reader.TakeLine(line.text, {line.arrivalUs, c.utcArrival});
        }
        reader.Finish();
        EXPECT_EQ(fixes, c.fixes) << c.legend;
        EXPECT_EQ(reader.Fixes(), c.fixes.size()) << c.legend;
    }
}

// A track of a minute across midnight, in the south-west quarter, some fixes without their
// satellites, HDOP or separation.
std::vector<TrackFix> MinuteAcrossMidnight() {
    std::vector<TrackFix> fixes;
    for (int i = 0; i < 60; ++i) {
        TrackFix fix;
        fix.utcMs = (kBeforeMidnightUs - 29'000'000) / 1000 + i * 1000 + (i % 5) * 200;
        fix.timeOfDayMs = *fix.utcMs % 86'400'000;
        fix.latitudeDeg = -33.8568 + i * 1.3e-5;
        fix.longitudeDeg = -151.2153 - i * 2.1e-5;
        fix.altitudeM = 12.5 + i * 0.1;
        fix.geoidSeparationM = i % 7 == 0 ? std::nullopt : std::optional<double>(22.4);
        fix.quality = i % 3 == 0 ? 1 : 2;
        fix.satellites = i % 11 == 0 ? std::nullopt : std::optional<int>(9);
        fix.hdop = i % 13 == 0 ? std::nullopt : std::optional<double>(0.8);
        fixes.push_back(fix);
    }
    return fixes;
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) {
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

// What gpsbabel reads in the file, as its unicsv text.
std::string ReadBack(const std::string& path, const std::string& format, bool tracks) {
    const std::string command = std::string(GPSBABEL_PATH) + (tracks ? " -t" : "") + " -i " + format +
                                " -f '" + path + "' -o unicsv -F - 2>&1";
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

TEST(TrackWriter, GpsbabelReadsBackEveryFix) {
    if (std::string(GPSBABEL_PATH).empty()) {
        GTEST_SKIP() << "gpsbabel is not installed (scripts/install-deps installs it)";
    }
    struct Case {
        TrackFormat format;
        const char* reader;
        bool tracks;
        bool ellipsoidal;  // the height written is above the ellipsoid, not sea level
        bool timed;
    };
    const std::vector<TrackFix> fixes = MinuteAcrossMidnight();
    for (const Case& c : {Case{TrackFormat::kGpx, "gpx", true, false, true},
                          Case{TrackFormat::kKml, "kml", true, false, false},
                          Case{TrackFormat::kCsv, "unicsv", false, true, true}}) {
        std::ostringstream text;
        const auto writer = MakeTrackWriter(c.format, text);
        writer->Begin("Bondi <& \"beach\">");
        for (const TrackFix& fix : fixes) {
            writer->Add(fix);
        }
        writer->End();
        const std::string path = (std::filesystem::temp_directory_path() /
                                  ("lct-track-" + std::to_string(::getpid()) + "." + c.reader))
                                     .string();
        std::ofstream(path, std::ios::binary) << text.str();
        const auto rows = CsvRows(ReadBack(path, c.reader, c.tracks));
        std::filesystem::remove(path);
        ASSERT_EQ(rows.size(), fixes.size() + 1) << c.reader << "\n" << text.str();
        std::map<std::string, size_t> column;
        for (size_t i = 0; i < rows[0].size(); ++i) {
            column[rows[0][i]] = i;
        }
        for (size_t i = 0; i < fixes.size(); ++i) {
            const auto& row = rows[i + 1];
            const TrackFix& fix = fixes[i];
            EXPECT_NEAR(std::stod(row.at(column.at("Latitude"))), fix.latitudeDeg, 1e-6) << c.reader << i;
            EXPECT_NEAR(std::stod(row.at(column.at("Longitude"))), fix.longitudeDeg, 1e-6) << c.reader << i;
            const double height = c.ellipsoidal ? *fix.HeightM() : *fix.altitudeM;
            EXPECT_NEAR(std::stod(row.at(column.at("Altitude"))), height, 0.051) << c.reader << i;
            if (c.timed) {
                const std::string iso = IsoUtcText(*fix.utcMs);
                const std::string date = iso.substr(0, 4) + "/" + iso.substr(5, 2) + "/" + iso.substr(8, 2);
                EXPECT_EQ(row.at(column.at("Date")), date) << c.reader << i;
                const std::string time = row.at(column.at("Time"));
                EXPECT_EQ(time.substr(0, 8), iso.substr(11, 8)) << c.reader << i;
                EXPECT_NEAR(std::stod(time.substr(6)), std::stod(iso.substr(17, iso.size() - 18)), 1e-3)
                    << c.reader << i;
            }
        }
    }
}

}  // namespace
