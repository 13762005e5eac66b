#include "ui/Trackexporter.h"

#include <filesystem>

TrackExporter::~TrackExporter() {
    Stop();
}

bool TrackExporter::Start(const TrackExportJob& job, Done done) {
    if (running_) {
        return false;
    }
    Join();  // an export that ended, whose outcome is still on its way
    running_ = true;
    stop_ = false;
    thread_ = std::thread([this, job, done = std::move(done)] {
        const TrackExportOutcome outcome = RunTrackExport(job, stop_);
        // Dropped when this object is gone before the window's thread takes it.
        QMetaObject::invokeMethod(
            this,
            [this, job, outcome, done] {
                Join();
                running_ = false;
                if (done) {
                    done(job, outcome);
                }
            },
            Qt::QueuedConnection);
    });
    return true;
}

void TrackExporter::Stop() {
    stop_ = true;
    Join();
    running_ = false;
}

void TrackExporter::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

TrackExportOutcome RunTrackExport(const TrackExportJob& job, const std::atomic<bool>& stop) {
    TrackExportOutcome outcome;
    const std::string name = std::filesystem::path(job.recording).filename().string();
    outcome.written = ExportTrack(job.out, job.format, name, [&](const TrackLineSink& sink) {
        outcome.read = ReadRecordingLines(
            job.recording, job.plainBaud,
            [&sink](std::string_view line, int64_t timeUs, bool wallClock) {
                sink(line, {timeUs, wallClock});
            },
            &stop);
        return outcome.read.opened && !outcome.read.stopped;
    });
    return outcome;
}
