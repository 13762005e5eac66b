#include <gtest/gtest.h>

#include <QPushButton>
#include <QWidget>

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

}  // namespace
