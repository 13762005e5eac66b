#include <gtest/gtest.h>

#include "ui/Statusform.h"

namespace {

TEST(PlaceBeside, RightWhenItFitsElseLeftElseTheRoomierSideKeptOnTheScreen) {
    struct Row {
        const char* legend = nullptr;
        QRect bounds;
        QSize size;
        QPoint expected;
    };
    const QRect screen(0, 0, 1280, 900);
    const Row rows[] = {
        {"right of the bounds", {100, 50, 650, 600}, {500, 600}, {750, 50}},
        {"right, to the last pixel", {100, 50, 680, 600}, {500, 600}, {780, 50}},
        {"left when the right has no room", {600, 50, 650, 600}, {500, 600}, {100, 50}},
        {"neither fits: the roomier left side, kept on the screen", {400, 50, 650, 600}, {600, 600}, {0, 50}},
        {"neither fits: the roomier right side, kept on the screen",
         {200, 50, 650, 600},
         {600, 600},
         {680, 50}},
        {"lifted to stay above the screen's bottom", {100, 500, 650, 400}, {500, 600}, {750, 300}},
        {"a window taller than the screen keeps its top on it", {100, -20, 650, 400}, {500, 1000}, {750, 0}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(PlaceBeside(r.bounds, r.size, screen), r.expected) << r.legend;
    }
}

}  // namespace
