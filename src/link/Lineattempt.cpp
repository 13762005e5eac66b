#include "link/Lineattempt.h"

#include "link/Linefactory.h"

LineAttempt::LineAttempt(const std::string& name, uint32_t baud, bool blocking) : line_(MakeLine(name)) {
    where_ = line_->Where();
    line_->SetBlocking(blocking);
    line_->SetOpenCancel([shared = shared_] { return shared->cancelled.load(); });
    thread_ = std::thread([line = line_, shared = shared_, name, baud] {
        const bool opened = line->Open(name, baud, 0);
        if (opened) {
            line->Purge();
        }
        shared->opened.store(opened);
        shared->finished.store(true);
    });
}

LineAttempt::~LineAttempt() {
    Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::shared_ptr<Line> LineAttempt::TakeLine() {
    if (thread_.joinable()) {
        thread_.join();
    }
    line_->SetOpenCancel(nullptr);
    return std::move(line_);
}
