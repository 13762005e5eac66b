// lctrovi accuracy and export: how well a receiver holds its position, and its track for
// other programs.
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Receivedlines.h"
#include "config/Json.h"
#include "geo/Positionstats.h"
#include "geo/Trackexport.h"

namespace {
const char* const kAccuracyHelp =
    "Usage: lctrovi accuracy --device D [--baud B] [--seconds N] [OPTIONS]\n"
    "       lctrovi accuracy FILE [--baud B] [OPTIONS]\n"
    "How well the receiver holds its position: its fixes (GGA sentences with a fix) about their\n"
    "mean, or about a known point, as sigma east, north and up, CEP50, CEP95 and 2DRMS in\n"
    "metres. Live, the fixes are gathered until Ctrl-C, or for N seconds, and the figures are\n"
    "printed then; on a terminal a line on standard error shows them as they stand. FILE is a\n"
    "recording made by lctrovi record or File, Record..., or a plain capture read as arriving\n"
    "at the rate --baud gives. Exit status 1 when there is no fix, when nothing arrives for\n"
    "five seconds or the port is lost, or when the file stops being sound (the figures of what\n"
    "came before are printed).\n"
    "\n" LCT_DEVICE_OPTION_HELP
    "  --baud B       the rate of the PC port (default 19200); with FILE, the rate of a plain\n"
    "                 capture\n"
    "  --seconds N    live: stop after N seconds (default: at Ctrl-C)\n"
    "  --reference LAT,LON,HEIGHT\n"
    "                 the figures about this point (degrees north, degrees east, metres above\n"
    "                 the WGS-84 ellipsoid) instead of about the mean\n"
    "  --differential only the differential fixes (GGA quality 2; 4 and 5, RTK)\n"
    "  --json         print the figures as one JSON object\n"
    "  --help         show this help and exit\n";

const char* const kExportHelp =
    "Usage: lctrovi export FILE --out OUT [--format gpx|kml|csv] [--baud B]\n"
    "Write the track in a recording (or in a plain capture read as arriving at the rate --baud\n"
    "gives) for other programs: a point for each GGA sentence with a fix, as GPX 1.1, KML 2.2\n"
    "(a line at altitudes above sea level) or CSV (time, lat, lon, height above the ellipsoid,\n"
    "quality, satellites, hdop). Each fix is dated by the receiver's own RMC or ZDA date, else\n"
    "by the recording's clock. OUT is replaced only once the whole track is written. Exit\n"
    "status 1 when there is no fix, OUT cannot be written, or the file stops being sound (the\n"
    "track up to there is written).\n"
    "\n"
    "  --out OUT      the file to write\n"
    "  --format F     gpx, kml or csv (default: OUT's extension)\n"
    "  --baud B       read a file that is not a recording as bytes arriving at B baud\n"
    "  --help         show this help and exit\n";

constexpr int64_t kMaxSeconds = 1'000'000'000;
constexpr int64_t kProgressIntervalMs = 1000;

// --baud for a plain capture: 0 when not given, nothing (reported) when invalid.
std::optional<uint32_t> ReadPlainBaud(const CliArgs& parsed) {
    const auto text = parsed.Value("--baud");
    if (!text) {
        return 0;
    }
    const auto baud = ParseInteger(*text, 300, 4'000'000);
    if (!baud) {
        std::fprintf(stderr, "lctrovi: invalid baud rate %s\n", text->c_str());
        return std::nullopt;
    }
    return static_cast<uint32_t>(*baud);
}

std::string Number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void PrintJson(const AccuracyFigures& f) {
    const std::pair<const char*, std::string> fields[] = {
        {"fixes", std::to_string(f.fixes)},
        {"mean_lat_deg", Number(f.mean.latitudeDeg, 9)},
        {"mean_lon_deg", Number(f.mean.longitudeDeg, 9)},
        {"mean_height_m", Number(f.mean.heightM, 4)},
        {"sigma_east_m", Number(f.sigmaEastM, 4)},
        {"sigma_north_m", Number(f.sigmaNorthM, 4)},
        {"sigma_up_m", Number(f.sigmaUpM, 4)},
        {"cep50_m", Number(f.cep50M, 4)},
        {"cep95_m", Number(f.cep95M, 4)},
        {"twice_drms_m", Number(f.twiceDrmsM, 4)},
    };
    std::string text = "{";
    for (const auto& [key, value] : fields) {
        text += (text.size() > 1 ? ", " : "") + JsonQuote(key) + ": " + value;
    }
    std::printf("%s}\n", text.c_str());
}

// "48.117300000, 11.516700000, 566.200 m": as --reference takes it, less the spaces and unit.
std::string PositionText(const Geodetic& g) {
    return Number(g.latitudeDeg, 9) + ", " + Number(g.longitudeDeg, 9) + ", " + Number(g.heightM, 3) + " m";
}

void PrintTable(const AccuracyFigures& f, const PositionStats& stats) {
    std::string fixes = std::to_string(f.fixes);
    if (stats.Filter() == FixFilter::kDifferential) {
        fixes += " differential (of " + std::to_string(stats.AllFixCount()) + ")";
    }
    std::printf("Fixes          %s\n", fixes.c_str());
    std::printf("Mean position  %s\n", PositionText(f.mean).c_str());
    std::printf("About          %s\n",
                f.aboutReference ? ("the reference " + PositionText(f.centre)).c_str() : "the mean");
    const std::pair<const char*, double> rows[] = {
        {"Sigma east", f.sigmaEastM}, {"Sigma north", f.sigmaNorthM},
        {"Sigma up", f.sigmaUpM},     {"CEP50", f.cep50M},
        {"CEP95", f.cep95M},          {"2DRMS", f.twiceDrmsM},
    };
    for (const auto& [name, metres] : rows) {
        std::printf("%-14s %.3f m\n", name, metres);
    }
}

// The figures so far on one line of standard error, redrawn at most once a second.
class Progress {
  public:
    explicit Progress(bool shown) : shown_(shown) {}
    void Update(const PositionStats& stats) {
        const int64_t now = CurrentClock().MonotonicMs();
        if (!shown_ || (drawn_ && now - lastMs_ < kProgressIntervalMs)) {
            return;
        }
        if (const auto f = stats.Figures()) {
            std::fprintf(stderr, "\r%zu fixes  CEP50 %.3f m  CEP95 %.3f m  2DRMS %.3f m ", f->fixes,
                         f->cep50M, f->cep95M, f->twiceDrmsM);
            std::fflush(stderr);
            drawn_ = true;
            lastMs_ = now;
        }
    }
    void End() const {
        if (drawn_) {
            std::fputc('\n', stderr);
        }
    }

  private:
    bool shown_;
    bool drawn_ = false;
    int64_t lastMs_ = 0;
};

// Reads --reference and --differential into the statistics; false (reported) when invalid.
bool ConfigureStats(const CliArgs& parsed, PositionStats& stats) {
    if (const auto text = parsed.Value("--reference")) {
        std::string error;
        const auto reference = ParseGeodetic(*text, error);
        if (!reference) {
            std::fprintf(stderr, "lctrovi: invalid reference %s: %s\n", text->c_str(), error.c_str());
            return false;
        }
        stats.SetReference(reference);
    }
    stats.SetFilter(parsed.Has("--differential") ? FixFilter::kDifferential : FixFilter::kAll);
    return true;
}

// Feeds the lines of the live receiver or the file given on the command line to `onLine`.
int ReadAccuracyInput(const CliArgs& parsed, const LineHandler& onLine) {
    if (!parsed.words.empty()) {
        const auto plainBaud = ReadPlainBaud(parsed);
        return plainBaud ? ReadFileLines(parsed.words.front(), *plainBaud, onLine) : kExitUsage;
    }
    std::optional<int64_t> seconds;
    if (const auto text = parsed.Value("--seconds")) {
        seconds = ParseInteger(*text, 1, kMaxSeconds);
        if (!seconds) {
            std::fprintf(stderr, "lctrovi: invalid number of seconds %s\n", text->c_str());
            return kExitUsage;
        }
    }
    Session session;
    if (const int status = OpenSession(parsed, session); status != kExitOk) {
        return status;
    }
    return ReceiveLiveLines(session, seconds, onLine);
}

std::optional<TrackFormat> ReadTrackFormat(const CliArgs& parsed, const std::string& out) {
    if (const auto text = parsed.Value("--format")) {
        const auto format = ParseTrackFormat(*text);
        if (!format) {
            std::fprintf(stderr, "lctrovi: invalid format %s (gpx, kml or csv)\n", text->c_str());
        }
        return format;
    }
    const auto format = TrackFormatOfPath(out);
    if (!format) {
        std::fprintf(stderr, "lctrovi: give --format gpx, kml or csv for %s\n", out.c_str());
    }
    return format;
}
}  // namespace

int RunAccuracy(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud", "--seconds", "--reference"},
                         {"--json", "--differential"}, kAccuracyHelp, parsed, status)) {
        return status;
    }
    const bool live = parsed.Value("--device").has_value();
    if (parsed.words.size() > 1 || live == !parsed.words.empty() || (!live && parsed.Value("--seconds"))) {
        std::fprintf(stderr, "lctrovi: accuracy reads --device D or one FILE\n%s", kAccuracyHelp);
        return kExitUsage;
    }
    PositionStats stats;
    if (!ConfigureStats(parsed, stats)) {
        return kExitUsage;
    }
    const bool json = parsed.Has("--json");
    Progress progress(live && !json && StdoutIsTerminal());
    status = ReadAccuracyInput(parsed, [&](std::string_view line, LineTime /*time*/) {
        if (stats.TakeLine(line)) {
            progress.Update(stats);
        }
    });
    progress.End();
    if (status == kExitUsage) {
        return status;
    }
    const auto figures = stats.Figures();
    if (!figures) {
        if (status == kExitOk) {
            std::fprintf(stderr, "No %sfixes among %s.\n",
                         stats.Filter() == FixFilter::kDifferential ? "differential " : "",
                         live ? "the sentences received" : parsed.words.front().c_str());
        }
        return kExitFailed;
    }
    if (json) {
        PrintJson(*figures);
    } else {
        PrintTable(*figures, stats);
    }
    return status;
}

int RunExport(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--baud", "--format", "--out"}, {}, kExportHelp, parsed, status)) {
        return status;
    }
    const auto out = parsed.Value("--out");
    if (parsed.words.size() != 1 || !out || out->empty()) {
        std::fprintf(stderr, "lctrovi: export needs one FILE and --out OUT\n%s", kExportHelp);
        return kExitUsage;
    }
    const auto format = ReadTrackFormat(parsed, *out);
    const auto plainBaud = ReadPlainBaud(parsed);
    if (!format || !plainBaud) {
        return kExitUsage;
    }
    const std::string& path = parsed.words.front();
    const TrackExportResult result = ExportTrack(
        *out, *format, std::filesystem::path(path).filename().string(), [&](const TrackLineSink& sink) {
            status = ReadFileLines(path, *plainBaud, sink);
            return true;
        });
    if (!result.error.empty()) {
        std::fprintf(stderr, "Error writing track file %s: %s\n", out->c_str(), result.error.c_str());
        return kExitFailed;
    }
    if (!result.written) {
        if (status == kExitOk) {
            std::fprintf(stderr, "No fixes in %s; nothing written.\n", path.c_str());
        }
        return kExitFailed;
    }
    std::fprintf(stderr, "Wrote %zu fixes to %s\n", result.fixes, out->c_str());
    return status;
}
