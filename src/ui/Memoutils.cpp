#include "ui/Memoutils.h"

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cstdlib>

#include "base/Timeutils.h"

int LinesThatFit(const QWidget* control) {
    // The area inside the control's frame: known from its geometry, before it is shown.
    const int clientHeight = control->contentsRect().height();
    const int fontHeight = std::abs(QFontInfo(control->font()).pixelSize());
    return (clientHeight - 2) / (fontHeight + 2);
}

int LineCount(const QPlainTextEdit* memo) {
    const QTextDocument* doc = memo->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

void AddLine(const QString& text, QPlainTextEdit* memo, int limit) {
    QTextCursor cursor(memo->document());
    cursor.beginEditBlock();
    if (limit > 0) {
        int lines = LineCount(memo);
        while (lines >= limit && lines > 0) {
            QTextCursor first(memo->document()->firstBlock());
            first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
            if (first.position() == first.anchor()) {  // the only line: empty the memo
                first.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            }
            first.removeSelectedText();
            --lines;
        }
    }
    cursor.movePosition(QTextCursor::End);
    if (!memo->document()->isEmpty()) {
        cursor.insertBlock();
    }
    cursor.insertText(text);
    cursor.endEditBlock();
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

QString StampedLine(const QString& text, int64_t t) {
    return QString::fromLatin1(TimeText(static_cast<std::time_t>(t))) + QStringLiteral(": ") + text;
}

void AddStampedLine(const QString& text, QPlainTextEdit* memo, int limit) {
    AddLine(StampedLine(text), memo, limit);
}
