#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>

#include "ui/Memoutils.h"

namespace {

QStringList Lines(const QPlainTextEdit& memo) {
    return memo.toPlainText().isEmpty() ? QStringList() : memo.toPlainText().split('\n');
}

TEST(AddLine, KeepsAtMostTheLimitDroppingTheOldestFirst) {
    QPlainTextEdit memo;
    for (int i = 1; i <= 5; ++i) {
        AddLine(QString::number(i), &memo, 3);
    }
    EXPECT_EQ(Lines(memo), (QStringList{"3", "4", "5"}));
    AddLine("only", &memo, 1);
    EXPECT_EQ(Lines(memo), (QStringList{"only"}));
}

TEST(AddLine, LimitOfZeroOrLessNeverDrops) {
    QPlainTextEdit memo;
    for (int i = 0; i < 50; ++i) {
        AddLine("x", &memo, 0);
        AddLine("y", &memo, -3);
    }
    EXPECT_EQ(LineCount(&memo), 100);
}

TEST(AddStampedLine, PrefixesTheTimeOfDay) {
    QPlainTextEdit memo;
    AddStampedLine("Proprietary ID 216", &memo, 10);
    EXPECT_TRUE(
        QRegularExpression("^\\d\\d:\\d\\d:\\d\\d: Proprietary ID 216$").match(memo.toPlainText()).hasMatch())
        << memo.toPlainText().toStdString();
}

TEST(LinesThatFit, AtMostClientHeightOverFontHeightPlusTwo) {
    QPlainTextEdit memo;
    QFont font = memo.font();
    font.setPixelSize(13);
    memo.setFont(font);
    memo.resize(300, 200);
    const int client = memo.contentsRect().height();
    EXPECT_LE(LinesThatFit(&memo), (client - 2) / 15);
    EXPECT_GE(LinesThatFit(&memo), (client - 2) / 15 - 2);
    memo.resize(300, 5);
    EXPECT_LE(LinesThatFit(&memo), 0);
}

// A memo filled to the lines that fit never needs its scroll bar, whatever the font's spacing
// (a family of its own or the fallback, pixel sizes from small to large).
TEST(LinesThatFit, AMemoFilledToItNeverScrolls) {
    const struct {
        const char* family;
        int pixelSize;
    } fonts[] = {{"", 9}, {"", 13}, {"", 21}, {"Monospace", 12}, {"Serif", 17}, {"Serif", 30}};
    for (const auto& f : fonts) {
        QPlainTextEdit memo;
        memo.setLineWrapMode(QPlainTextEdit::NoWrap);
        QFont font = memo.font();
        if (*f.family != 0) {
            font.setFamily(QLatin1String(f.family));
        }
        font.setPixelSize(f.pixelSize);
        memo.setFont(font);
        memo.resize(300, 240);
        memo.show();
        const int limit = LinesThatFit(&memo);
        for (int i = 0; i < 3 * limit; ++i) {
            AddLine(QStringLiteral("line %1").arg(i), &memo, limit);
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(memo.verticalScrollBar()->maximum(), 0) << f.family << " " << f.pixelSize << " px";
        EXPECT_GE(limit, (memo.contentsRect().height() - 2) / (f.pixelSize + 2) - 3) << "fills the display";
    }
}

TEST(FixedPitchFont, KeepsTheSizeAndHasFixedPitch) {
    QFont base;
    base.setPointSize(11);
    const QFont fixed = FixedPitchFont(base);
    EXPECT_TRUE(QFontInfo(fixed).fixedPitch()) << QFontInfo(fixed).family().toStdString();
    EXPECT_EQ(QFontInfo(fixed).pointSize(), 11);
}

}  // namespace
