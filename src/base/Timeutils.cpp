#include "base/Timeutils.h"

#include <cstdio>

const char* TimeText(std::time_t t) {
    static char buffer[16];
    if (t == 0) {
        t = std::time(nullptr);
    }
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string NowText() {
    return TimeText(0);
}
