#pragma once
// A track written to a file whole or not at all: the fixes of the lines a source hands over go
// to OUT.part, which takes OUT's place only once the whole track is written with at least one
// fix. A failed or abandoned export leaves OUT as it was. The window program and the tool
// both export through this; each gets its lines from where it likes and shows the outcome
// its own way.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "geo/Trackfixes.h"
#include "geo/Trackwriter.h"

using TrackLineSink = std::function<void(std::string_view line, LineTime time)>;
// Hands every line of the input to the sink; false abandons the export.
using TrackLineSource = std::function<bool(const TrackLineSink& sink)>;

struct TrackExportResult {
    size_t fixes = 0;      // fixes written
    bool written = false;  // OUT holds the track
    std::string error;     // why OUT could not be written; empty when it could
};

// Writes the track of the lines `source` hands over to `out` in `format`; `name` names the
// track (the file it was read from).
TrackExportResult ExportTrack(const std::string& out, TrackFormat format, std::string_view name,
                              const TrackLineSource& source);

// The format a file name's extension names (".gpx", ".KML", ".csv"); nothing for another.
std::optional<TrackFormat> TrackFormatOfPath(std::string_view path);
