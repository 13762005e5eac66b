#include "link/Line.h"

#include <cerrno>
#include <chrono>

bool Line::Reopen(uint32_t baudRate) {
    const std::string name = name_;
    Close();
    return Open(name, baudRate, 0);
}

void Line::SetBlocking(bool blocking) {
    if (blocking == blocking_) {
        return;
    }
    blocking_ = blocking;
    BlockingChanged();
}

void Line::RecordError(uint32_t code, std::string text, bool explains) {
    lastErrorCode_ = code;
    lastErrorText_ = std::move(text);
    permissionDenied_ = false;
    errorExplains_ = explains;
}

void Line::RecordPermissionDenied(uint32_t code, std::string text) {
    RecordError(code, std::move(text), true);
    permissionDenied_ = true;
}

void Line::CopyErrorFrom(const Line& other) {
    lastErrorCode_ = other.lastErrorCode_;
    lastErrorText_ = other.lastErrorText_;
    permissionDenied_ = other.permissionDenied_;
    errorExplains_ = other.errorExplains_;
}

void Line::StampReadNow() {
    readTimeUs_ = WallClockUs();
}

uint32_t ReadTimedOutCode() {
#ifdef _WIN32
    constexpr uint32_t kWin32ErrorTimeout = 1460;
    return kWin32ErrorTimeout;
#else
    return static_cast<uint32_t>(ETIMEDOUT);
#endif
}

bool IsReadTimedOut(const Line& line) {
    return line.LastErrorCode() == ReadTimedOutCode();
}

int64_t WallClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
