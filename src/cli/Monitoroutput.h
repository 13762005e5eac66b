#pragma once
// What monitor shows and logs, shared by monitor, record and replay: the main window's
// display lines on standard output and File, Logging's NMEA log.
#include <cstdio>
#include <functional>
#include <string>

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"

// The NMEA log as File, Logging writes it: each shown sentence, CR LF, flushed per line. A
// failed write is reported once and logging stops; the display goes on.
class NmeaLog {
  public:
    NmeaLog() = default;
    NmeaLog(const NmeaLog&) = delete;
    NmeaLog& operator=(const NmeaLog&) = delete;
    ~NmeaLog() { Close(); }
    bool Open(const std::string& name);
    void Write(const std::string& sentence);

  private:
    void Close();
    std::FILE* file_ = nullptr;
    std::string name_;
};

// Prints "hh:mm:ss: text" as the main window's display shows it.
void ShowLine(const char* timeText, std::string text);

// The display's handlers for the framers: "Proprietary ID N" for each frame, each shown
// sentence for each line (also written to the log). timeText gives the stamp of the moment.
struct MonitorDisplay {
    NmeaLog& log;
    std::function<const char*()> timeText;

    void Frame(const DiagProto& diag) const;
    void Line(const CRLFProto& crlf) const;
};
