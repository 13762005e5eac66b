#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "base/Timeutils.h"

namespace {

TEST(TimeText, FormatsLocalTimeOfDayIntoOneBuffer) {
    setenv("TZ", "UTC", 1);  // 1 Jan 2026 14:04:00 UTC
    tzset();
    const char* first = TimeText(1767276240);
    EXPECT_STREQ(first, "14:04:00");
    const char* second = TimeText(1767276241);
    EXPECT_EQ(first, second);  // the same static buffer, overwritten
    EXPECT_STREQ(second, "14:04:01");
    EXPECT_EQ(NowText().size(), 8u);
}

}  // namespace
