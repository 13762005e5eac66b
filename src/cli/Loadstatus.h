#pragma once
// How a load's statuses become lines of a log (output that is no terminal): a countdown such
// as "Establishing Communication... 59" changes every second or two, so the log takes its first
// text and then one every ten seconds or so, not sixty lines for a minute of probes.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "loader/Loadsequence.h"

class CountdownLines {
  public:
    static constexpr int64_t kLineEveryMs = 10'000;

    explicit CountdownLines(Clock& clock) : clock_(clock) {}

    // True when the text is worth a line: any text that does not count, the first text of a
    // countdown, and a countdown's text at least kLineEveryMs after its last line.
    bool WorthALine(const std::string& text) {
        const std::string_view stem = loadtext::CountdownStem(text);
        if (stem.empty()) {
            stem_ = {};
            return true;
        }
        const int64_t now = clock_.MonotonicMs();
        if (stem == stem_ && now - lineMs_ < kLineEveryMs) {
            return false;
        }
        stem_ = stem;
        lineMs_ = now;
        return true;
    }

  private:
    Clock& clock_;
    std::string_view stem_;  // of the countdown under way; it points into the static texts
    int64_t lineMs_ = 0;
};
