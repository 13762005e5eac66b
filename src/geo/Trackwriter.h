#pragma once
// Tracks for other programs: GPX 1.1, KML 2.2 and CSV, written one fix at a time onto a
// stream, so a day of fixes costs no more memory than one. The caller owns the stream and
// checks it for failure; the writers never name a file.
//
// - GPX: one track of one segment, a point per fix: lat, lon, ele (GGA's altitude above mean
//   sea level), time (when the date is known), geoidheight (GGA's geoid separation), fix
//   (dgps for quality 2, 4 and 5, pps for 3), sat and hdop, in the order the GPX 1.1 schema
//   gives.
// - KML: a Placemark with a LineString of longitude, latitude and altitude above sea level
//   (altitudeMode absolute); a single fix is a Point.
// - CSV: a header "time,lat,lon,height,quality,satellites,hdop", a row per fix; height is
//   above the ellipsoid (altitude plus geoid separation), time ISO 8601 UTC (the time of day
//   alone when the date is not known). A value not known is an empty field.
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

#include "geo/Trackfixes.h"

enum class TrackFormat : uint8_t { kGpx, kKml, kCsv };

// "gpx", "kml" or "csv".
std::optional<TrackFormat> ParseTrackFormat(std::string_view name);

class TrackWriter {
  public:
    virtual ~TrackWriter() = default;
    // Writes what comes before the fixes; `name` names the track (the file it was read from).
    virtual void Begin(std::string_view name) = 0;
    virtual void Add(const TrackFix& fix) = 0;
    // Writes what comes after the fixes.
    virtual void End() = 0;
};

std::unique_ptr<TrackWriter> MakeTrackWriter(TrackFormat format, std::ostream& out);

// The text as XML character data or attribute value: markup characters as entities, and
// control characters and bytes that are not UTF-8 as '?', so that the document stays sound.
std::string XmlText(std::string_view text);
