#include "geo/Trackexport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

TrackExportResult ExportTrack(const std::string& out, TrackFormat format, std::string_view name,
                              const TrackLineSource& source) {
    TrackExportResult result;
    const std::string temporary = out + ".part";
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) {
        result.error = std::strerror(errno);
        return result;
    }
    const auto writer = MakeTrackWriter(format, stream);
    writer->Begin(name);
    TrackReader reader([&](const TrackFix& fix) { writer->Add(fix); });
    const bool complete = source([&](std::string_view line, LineTime time) { reader.TakeLine(line, time); });
    reader.Finish();
    writer->End();
    stream.close();
    result.fixes = reader.Fixes();
    if (!stream) {
        result.error = std::strerror(errno);
    } else if (complete && result.fixes > 0) {
        std::error_code renameError;
        std::filesystem::rename(temporary, out, renameError);
        result.written = !renameError;
        result.error = renameError ? renameError.message() : std::string();
    }
    if (!result.written) {
        RemoveQuietly(temporary);
    }
    return result;
}

std::optional<TrackFormat> TrackFormatOfPath(std::string_view path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension.empty() ? std::nullopt : ParseTrackFormat(std::string_view(extension).substr(1));
}
