// Feeds arbitrary bytes, line by line, to the track reader and the accuracy figures, writes
// every fix in the three track formats, and reads the first line as a reference position.
// Checks that every figure is a finite, non-negative number, that every fix is inside the
// globe, that a reference read is in range, and that text made safe for XML holds no markup.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "geo/Positionstats.h"
#include "geo/Trackwriter.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Finite(double value) {
    return std::isfinite(value);
}

void CheckFigures(const PositionStats& stats) {
    const auto f = stats.Figures();
    Require(f.has_value() == (stats.FixCount() > 0));
    if (!f) {
        return;
    }
    for (const double metres :
         {f->sigmaEastM, f->sigmaNorthM, f->sigmaUpM, f->cep50M, f->cep95M, f->twiceDrmsM}) {
        Require(Finite(metres) && metres >= 0);
    }
    Require(f->cep50M <= f->cep95M);
    Require(std::fabs(f->mean.latitudeDeg) <= 90 && std::fabs(f->mean.longitudeDeg) <= 180 &&
            Finite(f->mean.heightM));
    Require(stats.Scatter(7).size() <= 7);
}

void CheckXmlText(std::string_view raw) {
    const std::string safe = XmlText(raw);
    for (size_t i = 0; i < safe.size(); ++i) {
        const auto c = static_cast<unsigned char>(safe[i]);
        Require(c != '<' && c != '>' && c != '"' && (c >= 0x20 || c == '\t'));
        Require(c != '&' || safe.compare(i, 4, "&lt;") == 0 || safe.compare(i, 4, "&gt;") == 0 ||
                safe.compare(i, 5, "&amp;") == 0 || safe.compare(i, 6, "&quot;") == 0 ||
                safe.compare(i, 6, "&apos;") == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::ostringstream gpx, kml, csv;
    const auto writers = {MakeTrackWriter(TrackFormat::kGpx, gpx), MakeTrackWriter(TrackFormat::kKml, kml),
                          MakeTrackWriter(TrackFormat::kCsv, csv)};
    for (const auto& writer : writers) {
        writer->Begin(all.substr(0, 40));
    }
    TrackReader reader([&](const TrackFix& fix) {
        Require(std::fabs(fix.latitudeDeg) <= 90 && std::fabs(fix.longitudeDeg) <= 180 && fix.quality > 0);
        for (const auto& writer : writers) {
            writer->Add(fix);
        }
    });
    PositionStats stats;
    int64_t arrivalUs = 0;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\n', start);
        const std::string_view line =
            all.substr(start, end == std::string_view::npos ? end : end + 1 - start);
        reader.TakeLine(line, {arrivalUs += 97'000, size % 2 == 0});
        stats.TakeLine(line);
        start = end == std::string_view::npos ? all.size() : end + 1;
    }
    reader.Finish();
    for (const auto& writer : writers) {
        writer->End();
    }
    CheckFigures(stats);
    stats.SetFilter(FixFilter::kDifferential);
    CheckFigures(stats);

    std::string error;
    const std::string_view first = all.substr(0, all.find('\n'));
    if (const auto reference = ParseGeodetic(first, error)) {
        Require(std::fabs(reference->latitudeDeg) <= 90 && std::fabs(reference->longitudeDeg) <= 180 &&
                std::fabs(reference->heightM) <= 100'000);
        stats.SetReference(reference);
        CheckFigures(stats);
    } else {
        Require(!error.empty());
    }
    CheckXmlText(all);
    return 0;
}
