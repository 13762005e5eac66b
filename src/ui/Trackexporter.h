#pragma once
// File > Export Track's work off the window's thread: a recording read through the receive
// path and its track written whole or not at all, so that a day's recording does not hold the
// window still. The outcome comes back on the window's thread.
#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "geo/Trackexport.h"
#include "recplay/Recordinglines.h"

struct TrackExportJob {
    std::string recording;
    uint32_t plainBaud = 0;  // the line rate of a plain capture; 0 for a recording
    std::string out;
    TrackFormat format = TrackFormat::kGpx;
};

struct TrackExportOutcome {
    RecordingLinesRead read;
    TrackExportResult written;
};

class TrackExporter : public QObject {
    Q_OBJECT
  public:
    using Done = std::function<void(const TrackExportJob&, const TrackExportOutcome&)>;

    explicit TrackExporter(QObject* parent = nullptr) : QObject(parent) {}
    // Stops an export under way (OUT is left as it was) and waits for its thread.
    ~TrackExporter() override;

    // Starts the export on a thread of its own; `done` runs on this object's thread once it
    // has ended. False while another export runs.
    bool Start(const TrackExportJob& job, Done done);
    bool Running() const { return running_; }
    void Stop();

  private:
    void Join();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
};

// The export itself, on the calling thread: the recording's lines into the track file.
TrackExportOutcome RunTrackExport(const TrackExportJob& job, const std::atomic<bool>& stop);
