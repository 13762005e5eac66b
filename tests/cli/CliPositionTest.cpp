// lctrovi accuracy and export as a user runs them, on recordings and on the simulated receiver.
#include <fstream>
#include <set>

#include "CliFixture.h"
#include "record/Recording.h"
#include "support/Nmeasentence.h"

namespace {
namespace fs = std::filesystem;

const std::set<std::string> kFigureKeys = {"fixes",        "mean_lat_deg",  "mean_lon_deg", "mean_height_m",
                                           "sigma_east_m", "sigma_north_m", "sigma_up_m",   "cep50_m",
                                           "cep95_m",      "twice_drms_m"};

using testsupport::NmeaSentence;

// A recording of `fixes` GGA sentences a second, differential and autonomous by turns, each
// after the RMC of its second.
void WriteRecording(const std::string& path, int fixes) {
    std::vector<uint8_t> bytes;
    AppendRecordingHeader(bytes, {19200, 1'796'860'799'000'000, "sim"});
    for (int i = 0; i < std::max(fixes, 3); ++i) {
        char time[24];
        std::snprintf(time, sizeof time, "2359%02d.00", 50 + i);
        char latitude[24];
        std::snprintf(latitude, sizeof latitude, "4807.%05d", 25359 + i * 3);
        const std::string lines =
            NmeaSentence(std::string("GPRMC,") + time + ",A," + latitude +
                         ",N,01131.00394,E,0.0,0.0,091226,,,D") +
            NmeaSentence(std::string("GPGGA,") + time + "," + latitude + ",N,01131.00394,E," +
                         (i < fixes ? (i % 2 == 0 ? "2" : "1") : "0") + ",09,0.9,519.0,M,47.0,M,3.0,0120");
        AppendRecordingChunk(bytes, static_cast<uint64_t>(i) * 1'000'000,
                             reinterpret_cast<const uint8_t*>(lines.data()), lines.size());
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::set<std::string> Keys(const std::string& json) {
    std::set<std::string> keys;
    for (const auto& [key, value] : ParseFlatJson(json)) {
        keys.insert(key);
    }
    return keys;
}

TEST_F(CliTest, AccuracyAndExportReadARecording) {
    const std::string recording = ScratchFile("fixes.rec");
    const std::string noFix = ScratchFile("nofix.rec");
    WriteRecording(recording, 10);
    WriteRecording(noFix, 0);
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        int status;
        std::string out;      // a part of standard output
        std::string err;      // a part of standard error
        std::string written;  // a file the command writes
        size_t points;        // lines of that file that hold a fix; 0: the file must not exist
    };
    const std::string gpx = ScratchFile("track.gpx");
    const std::string csv = ScratchFile("track.txt");
    const std::string notWritten = ScratchFile("nofix.kml");
    const std::string missingFolder = ScratchFile("missing") + "/track.kml";
    const Case cases[] = {
        {"accuracy as JSON", {"accuracy", recording, "--json"}, 0, "\"mean_height_m\": 566.0000,", "", "", 0},
        {"the differential fixes about a reference, as a table",
         {"accuracy", recording, "--differential", "--reference", "48.1209,11.5167,560"},
         0,
         "Fixes          5 differential (of 10)\n",
         "",
         "",
         0},
        {"a recording without a fix", {"accuracy", noFix}, 1, "", "No fixes among", "", 0},
        {"export as GPX", {"export", recording, "--out", gpx}, 0, "", "Wrote 10 fixes to", gpx, 10},
        {"export as CSV, by --format",
         {"export", recording, "--out", csv, "--format", "csv"},
         0,
         "",
         "",
         csv,
         10},
        {"export of a recording without a fix",
         {"export", noFix, "--out", notWritten},
         1,
         "",
         "No fixes in",
         notWritten,
         0},
        {"export into a folder that does not exist",
         {"export", recording, "--out", missingFolder},
         1,
         "",
         "Error writing track file",
         missingFolder,
         0},
    };
    for (const Case& c : cases) {
        const ChildResult result = Lctrovi(c.args);
        EXPECT_EQ(result.status, c.status) << c.legend << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.legend << ": " << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.legend << ": " << result.err;
        if (!c.written.empty()) {
            std::ifstream in(c.written, std::ios::binary);
            const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            EXPECT_EQ(fs::exists(c.written), c.points > 0) << c.legend;
            EXPECT_EQ(Count(text, "<trkpt ") + Count(text, ",566,"), c.points) << c.legend << text;
            EXPECT_FALSE(fs::exists(c.written + ".part")) << c.legend;
        }
    }
    const ChildResult json = Lctrovi({"accuracy", recording, "--json"});
    EXPECT_EQ(Keys(json.out), kFigureKeys) << json.out;
    EXPECT_EQ(ParseFlatJson(json.out)["fixes"], "10");
}

TEST_F(CliTest, AccuracyOfALiveReceiverForSomeSeconds) {
    SimOptions options;
    options.settings.nmeaMask = 0x11;  // GGA and RMC
    options.settings.nmeaRate = 5;
    StartSim(options);
    const ChildResult result = Lctrovi(AtSim({"accuracy", "--seconds", "2", "--json"}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Keys(result.out), kFigureKeys) << result.out;
    EXPECT_GE(std::stoi(ParseFlatJson(result.out)["fixes"]), 5) << result.out;
}

}  // namespace
