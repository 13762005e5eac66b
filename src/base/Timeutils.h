#pragma once
// Time-of-day stamps for the display: "hh:mm:ss" of local time.
#include <ctime>
#include <string>

// Formats the calendar time t (0: now) as "%02d:%02d:%02d" of local time into one static
// buffer, which the next call overwrites.
const char* TimeText(std::time_t t);

// TimeText of the current time.
std::string NowText();
