#include "link/Anyline.h"

#include "link/Linefactory.h"

namespace {
constexpr uint32_t kNotOpenCode = 9;  // EBADF: no line is held
}  // namespace

AnyLine::~AnyLine() {
    Release();
}

void AnyLine::Release() {
    if (line_) {
        line_->Close();
        retiredChanges_ += line_->LineChanges();
        line_.reset();
    }
}

bool AnyLine::Open(const std::string& name, uint32_t baudRate, int parity) {
    if (IsOpen()) {
        return false;
    }
    Release();
    std::shared_ptr<Line> line = MakeLine(name);
    line->SetBlocking(Blocking());
    const bool opened = line->Open(name, baudRate, parity);
    CopyErrorFrom(*line);
    if (!opened) {
        return false;
    }
    SetName(name);
    line_ = std::move(line);
    return true;
}

void AnyLine::Adopt(std::shared_ptr<Line> line) {
    Release();
    line_ = std::move(line);
    if (line_) {
        line_->SetBlocking(Blocking());
        SetName(line_->Name());
    }
}

bool AnyLine::TakeOpened(std::shared_ptr<Line> line, bool opened) {
    if (opened) {
        Adopt(std::move(line));
    } else {
        CopyErrorFrom(*line);
    }
    return opened;
}

void AnyLine::Close() {
    if (line_) {
        line_->Close();
    }
}

bool AnyLine::IsOpen() const {
    return line_ && line_->IsOpen();
}

bool AnyLine::Result(bool ok) {
    if (!ok) {
        if (line_) {
            CopyErrorFrom(*line_);
        } else {
            RecordError(kNotOpenCode, "The port is not open");
        }
    }
    return ok;
}

bool AnyLine::Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) {
    if (received != nullptr) {
        *received = 0;
    }
    if (!Result(line_ && line_->Read(buffer, capacity, received, waitMs))) {
        return false;
    }
    StampRead(line_->ReadTimeUs());
    return true;
}

bool AnyLine::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return Result(line_ && line_->Write(buffer, count, written));
}

bool AnyLine::SetBaudRate(uint32_t baudRate) {
    return Result(line_ && line_->SetBaudRate(baudRate));
}

void AnyLine::Purge() {
    if (line_) {
        line_->Purge();
    }
}

bool AnyLine::Reopen(uint32_t baudRate) {
    return Result(line_ && line_->Reopen(baudRate));
}

bool AnyLine::CanChangeRate() const {
    return !line_ || line_->CanChangeRate();
}

std::string AnyLine::RateRefusal() const {
    return line_ ? line_->RateRefusal() : std::string();
}

bool AnyLine::CanWrite() const {
    return !line_ || line_->CanWrite();
}

bool AnyLine::Ended() const {
    return line_ && line_->Ended();
}

bool AnyLine::IsRemote() const {
    return line_ && line_->IsRemote();
}

std::string AnyLine::Where() const {
    return line_ ? line_->Where() : Name();
}

uint32_t AnyLine::LineChanges() const {
    return retiredChanges_ + (line_ ? line_->LineChanges() : 0);
}

void AnyLine::BlockingChanged() {
    if (line_) {
        line_->SetBlocking(Blocking());
    }
}
