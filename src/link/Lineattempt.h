#pragma once
// An open of a line by name on a thread of its own, for a caller that must not wait for it (a
// window): started, asked whether it has finished, cancelled, and its line taken when it has.
// What the line held before is purged once it is open.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "link/Line.h"

class LineAttempt {
  public:
    LineAttempt(const std::string& name, uint32_t baud, bool blocking);
    // Cancels the attempt if it still runs and waits for its thread (an open looks at the
    // cancel at least every 50 ms).
    ~LineAttempt();
    LineAttempt(const LineAttempt&) = delete;
    LineAttempt& operator=(const LineAttempt&) = delete;

    bool Finished() const { return shared_->finished.load(); }
    void Cancel() { shared_->cancelled.store(true); }
    // Once finished: whether the line opened; the line itself (open, or telling why not).
    bool Opened() const { return shared_->opened.load(); }
    std::shared_ptr<Line> TakeLine();
    const std::string& Where() const { return where_; }

  private:
    struct Shared {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
        std::atomic<bool> opened{false};
    };

    std::shared_ptr<Line> line_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::string where_;
    std::thread thread_;
};
