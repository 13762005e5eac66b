#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "ui/Aboutform.h"
#include "ui/Scaleutils.h"

namespace {

TEST(AboutWindow, ConstructionLeavesItReadyForTheSplash) {
    TFormAbout about;
    EXPECT_TRUE(about.ButtonClose()->isHidden());
    EXPECT_FALSE(about.Timer()->isActive());
    EXPECT_EQ(about.Timer()->interval(), 1000);
    EXPECT_EQ(about.findChild<QGroupBox*>("GroupBox")->height(), 313);
    EXPECT_EQ(about.ButtonClose()->y(), 328);
    EXPECT_EQ(about.height(), 400);
    EXPECT_EQ(about.findChild<QLabel*>("LabelTitle")->text(), "Lumacor Trovi Utility");
    EXPECT_EQ(about.findChild<QLabel*>("LabelVersion")->text(), "Version 1.01");
    EXPECT_FALSE(about.findChild<QLabel*>("ImageMarks")->pixmap().isNull());
}

TEST(AboutWindow, SplashHidesItselfOnTheSixthTick) {
    TFormAbout about;
    about.ShowSplash(QRect(0, 0, 650, 612));
    EXPECT_TRUE(about.isVisible());
    EXPECT_TRUE(about.Timer()->isActive());
    EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(about.ButtonClose()->isHidden());
    for (int tick = 1; tick <= 5; ++tick) {
        about.TimerTimer();
        EXPECT_TRUE(about.isVisible()) << "tick " << tick;
    }
    about.TimerTimer();
    EXPECT_FALSE(about.isVisible());
    EXPECT_FALSE(about.Timer()->isActive());
    EXPECT_FALSE(about.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(AboutWindow, AboutBoxHasCloseAndIsPlacedOnEveryShowing) {
    TFormAbout about;
    const QRect first(100, 100, 650, 612);
    about.ShowOver(first);
    EXPECT_FALSE(about.ButtonClose()->isHidden());
    EXPECT_EQ(about.frameGeometry().topLeft(), CentredOver(first, about.frameGeometry().size(), true));
    about.move(5, 5);
    const QRect second(-500, -500, 100, 100);
    about.ShowOver(second);
    EXPECT_EQ(about.frameGeometry().topLeft(), QPoint(0, 0));  // clamped
    about.ButtonCloseClick();
    EXPECT_FALSE(about.isVisible());
}

// The licence and the notices are built into the program, so every build shows them whole.
TEST(AboutWindow, LicencesShowTheNoticesAndEveryLicenceText) {
    TFormAbout about;
    about.ShowOver(QRect(100, 100, 650, 612));
    auto* button = about.findChild<QPushButton*>("ButtonLicences");
    ASSERT_NE(button, nullptr);
    button->click();
    const auto* tabs = about.findChild<QTabWidget*>("TabsLicences");
    ASSERT_NE(tabs, nullptr);
    EXPECT_TRUE(tabs->window()->isVisible());
    const char* const firstLines[] = {"LCTrovi Utility", "GNU GENERAL PUBLIC LICENSE",
                                      "GNU LESSER GENERAL PUBLIC LICENSE", "GCC RUNTIME LIBRARY EXCEPTION",
                                      "Zope Public License"};
    ASSERT_EQ(tabs->count(), 5);
    for (int i = 0; i < tabs->count(); ++i) {
        const QString text = static_cast<QPlainTextEdit*>(tabs->widget(i))->toPlainText();
        EXPECT_TRUE(text.trimmed().startsWith(QLatin1String(firstLines[i]))) << text.left(80).toStdString();
        EXPECT_GT(text.size(), 1000) << i;
    }
}

TEST(AboutWindow, OpenedDuringTheSplashItStillDisappearsWithTheSplash) {
    TFormAbout about;
    about.ShowSplash(QRect(0, 0, 650, 612));
    about.TimerTimer();
    about.ShowOver(QRect(0, 0, 650, 612));
    EXPECT_TRUE(about.Timer()->isActive());
    for (int tick = 2; tick <= 6; ++tick) {
        about.TimerTimer();
    }
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
