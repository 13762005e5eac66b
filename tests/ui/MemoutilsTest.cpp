#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QRegularExpression>

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

TEST(LinesThatFit, ClientHeightOverFontHeightPlusTwo) {
    QPlainTextEdit memo;
    QFont font = memo.font();
    font.setPixelSize(13);
    memo.setFont(font);
    memo.resize(300, 200);
    const int client = memo.contentsRect().height();
    EXPECT_EQ(LinesThatFit(&memo), (client - 2) / 15);
    memo.resize(300, 5);
    EXPECT_LE(LinesThatFit(&memo), 0);
}

}  // namespace
