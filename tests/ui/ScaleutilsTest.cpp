#include <gtest/gtest.h>

#include <QPushButton>
#include <QWidget>
#include <optional>

#include "ui/Scaleutils.h"

namespace {

QWidget* Child(QWidget* form, QRect geometry, const char* align = nullptr) {
    auto* w = new QPushButton(form);
    w->setGeometry(geometry);
    if (align != nullptr) {
        w->setProperty(kAlignProperty, QString::fromLatin1(align));
    }
    return w;
}

TEST(FitClientToControls, MarginsRightAndBelowEqualTheSmallestLeftAndTop) {
    QWidget form;
    form.resize(500, 500);
    Child(&form, {20, 13, 37, 13});
    Child(&form, {8, 41, 49, 13});
    Child(&form, {184, 80, 64, 24});
    FitClientToControls(&form);
    EXPECT_EQ(form.size(), QSize(248 + 8, 104 + 13));
}

TEST(FitClientToControls, EdgeAlignedChildrenAddTheirExtent) {
    QWidget form;
    form.resize(500, 500);
    Child(&form, {10, 10, 100, 20});
    Child(&form, {0, 0, 500, 30}, "top");
    Child(&form, {0, 0, 500, 22}, "bottom");
    Child(&form, {0, 0, 40, 500}, "left");
    Child(&form, {0, 0, 999, 999}, "client");  // ignored
    FitClientToControls(&form);
    EXPECT_EQ(form.size(), QSize(40 + 110 + 10, 30 + 30 + 22 + 10));
}

TEST(FitClientToControls, FormWithOnlyAlignedChildrenKeepsItsSize) {
    QWidget form;
    form.resize(650, 612);
    Child(&form, {0, 0, 650, 500}, "client");
    Child(&form, {0, 0, 650, 20}, "bottom");
    FitClientToControls(&form);
    EXPECT_EQ(form.size(), QSize(650, 612));
}

TEST(FitClientToControls, HiddenChildDoesNotCountEvenIfShownLater) {
    QWidget form;
    form.resize(500, 500);
    Child(&form, {10, 10, 50, 50});
    QWidget* hidden = Child(&form, {10, 100, 300, 200});
    hidden->hide();
    FitClientToControls(&form);
    EXPECT_EQ(form.size(), QSize(70, 70));
    hidden->show();
    EXPECT_EQ(form.size(), QSize(70, 70));
}

TEST(FitClientToControls, ControlsInsideAContainerCountOnlyThroughIt) {
    QWidget form;
    form.resize(500, 500);
    QWidget* panel = Child(&form, {5, 5, 100, 100});
    auto* inner = new QPushButton(panel);
    inner->setGeometry(0, 0, 400, 400);
    FitClientToControls(&form);
    EXPECT_EQ(form.size(), QSize(110, 110));
}

TEST(CentredOver, HalvesRoundTowardZeroAndClampOnlyWhenAsked) {
    struct Row {
        QRect bounds;
        QSize size;
        bool clamp;
        QPoint expected;
    };
    const Row rows[] = {
        {QRect(100, 50, 650, 612), QSize(297, 140), true, {100 + 176, 50 + 236}},
        {QRect(0, 0, 101, 101), QSize(50, 50), true, {25, 25}},       // 51 / 2 = 25
        {QRect(0, 0, 100, 100), QSize(261, 133), false, {-80, -16}},  // -161/2, -33/2 toward zero
        {QRect(0, 0, 100, 100), QSize(261, 133), true, {0, 0}},
        {QRect(-300, -300, 100, 100), QSize(50, 50), false, {-275, -275}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(CentredOver(r.bounds, r.size, r.clamp), r.expected)
            << r.bounds.x() << "," << r.size.width();
    }
}

TEST(ClampToScreens, KeepsAPlaceOnAScreenMovesOneHalfOffAndDropsOneOffEveryScreen) {
    const QRect left(0, 0, 1280, 1000);       // a screen with a bar along its bottom
    const QRect right(1280, 200, 1024, 768);  // a second screen, lower down
    struct Row {
        const char* what = nullptr;
        QRect saved;
        QList<QRect> screens;
        std::optional<QRect> expected;
    };
    const Row rows[] = {
        {"wholly on the screen: unchanged", {100, 80, 650, 612}, {left}, QRect(100, 80, 650, 612)},
        {"exactly filling the screen", {0, 0, 1280, 1000}, {left}, QRect(0, 0, 1280, 1000)},
        {"over the right edge: moved left", {1000, 80, 650, 612}, {left}, QRect(630, 80, 650, 612)},
        {"above the top: moved down", {100, -50, 650, 612}, {left}, QRect(100, 0, 650, 612)},
        {"below the bottom: moved up", {100, 900, 650, 612}, {left}, QRect(100, 388, 650, 612)},
        {"larger than the screen: shrunk", {-10, -10, 1400, 1100}, {left}, QRect(0, 0, 1280, 1000)},
        {"one pixel on the screen still counts", {1279, 999, 300, 200}, {left}, QRect(980, 800, 300, 200)},
        {"off every screen", {3000, 3000, 300, 200}, {left, right}, std::nullopt},
        {"just beyond the right edge", {1280, 0, 300, 200}, {left}, std::nullopt},
        {"no screens", {0, 0, 300, 200}, {}, std::nullopt},
        {"on the second screen", {1500, 300, 400, 300}, {left, right}, QRect(1500, 300, 400, 300)},
        {"across both: onto the one it overlaps most",
         {1200, 300, 400, 300},
         {left, right},
         QRect(1280, 300, 400, 300)},
        {"where a second screen has gone: none, so centred", {1500, 300, 400, 300}, {left}, std::nullopt},
        {"partly where the second screen was", {1100, 300, 400, 300}, {left}, QRect(880, 300, 400, 300)},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ClampToScreens(r.saved, r.screens), r.expected) << r.what;
    }
}

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

TEST(MakeRoomBeside, MovesTheWindowLeftJustEnoughOnlyWhenThatMakesRoom) {
    struct Row {
        const char* legend = nullptr;
        QRect bounds;
        int width = 0;
        QRect expected;
    };
    const QRect screen(0, 0, 1280, 900);
    const Row rows[] = {
        {"room on the right already", {100, 50, 650, 600}, 500, {100, 50, 650, 600}},
        {"room on the left already", {600, 50, 650, 600}, 500, {600, 50, 650, 600}},
        {"centred: left by the shortfall", {315, 50, 650, 600}, 606, {24, 50, 650, 600}},
        {"near the right edge: left by the shortfall", {430, 50, 650, 600}, 600, {30, 50, 650, 600}},
        {"the two cannot stand side by side", {200, 50, 650, 600}, 700, {200, 50, 650, 600}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(MakeRoomBeside(r.bounds, r.width, screen), r.expected) << r.legend;
    }
}

}  // namespace
