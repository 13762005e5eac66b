#include "cli/Monitoroutput.h"

#include "proto/Messages.h"
#include "proto/Sentences.h"

namespace {
constexpr const char* kLogLineEnd = "\r\n";  // NMEA's own line end, whichever system wrote the log
}

bool NmeaLog::Open(const std::string& name) {
    name_ = name;
    file_ = std::fopen(name.c_str(), "wb");
    if (file_ == nullptr) {
        std::fprintf(stderr, "Error opening log file %s\n", name.c_str());
    }
    return file_ != nullptr;
}

void NmeaLog::Write(const std::string& sentence) {
    if (file_ == nullptr) {
        return;
    }
    // By length: a sentence may hold a NUL byte, and the log keeps every byte as received.
    if (std::fwrite(sentence.data(), 1, sentence.size(), file_) != sentence.size() ||
        std::fputs(kLogLineEnd, file_) < 0 || std::fflush(file_) != 0) {
        std::fprintf(stderr, "Error writing log file %s. Logging has stopped.\n", name_.c_str());
        Close();
    }
}

void NmeaLog::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void ShowLine(const char* timeText, std::string text) {
    // A NUL would cut the printed line short: print it as U+FFFD, as the main window shows it.
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at)) {
        text.replace(at, 1, "\xEF\xBF\xBD");
    }
    std::printf("%s: %s\n", timeText, text.c_str());
    std::fflush(stdout);
}

void MonitorDisplay::Frame(const DiagProto& diag) const {
    ShowLine(timeText(), "Proprietary ID " + std::to_string(diag.MessageData()[frame::kIdOffset]));
}

void MonitorDisplay::Line(const CRLFProto& crlf) const {
    if (!IsShownSentence(crlf.MessageData(), crlf.MessageLength())) {
        return;
    }
    const std::string text(reinterpret_cast<const char*>(crlf.MessageData()), crlf.MessageLength() - 2u);
    ShowLine(timeText(), text);
    log.Write(text);
}
