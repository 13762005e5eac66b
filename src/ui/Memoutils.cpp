#include "ui/Memoutils.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/Timeutils.h"

int LinesThatFit(const QWidget* control) {
    // The area inside the control's frame: known from its geometry, before it is shown.
    const int clientHeight = control->contentsRect().height();
    const int fontHeight = std::abs(QFontInfo(control->font()).pixelSize());
    const int byPixelSize = (clientHeight - 2) / (fontHeight + 2);
    // A memo shows fewer lines than that rule says when the font spaces its lines wider than
    // its pixel size plus two (DejaVu Sans at 13 px, Windows fonts under Wine), and a memo
    // filled to it would scroll. A plain text memo gives each line its height rounded up and
    // keeps its document margin above the first line and below the last, less one pixel.
    const auto* memo = qobject_cast<const QPlainTextEdit*>(control);
    const double margins = memo != nullptr ? 2 * memo->document()->documentMargin() + 1 : 0.0;
    const QFontMetricsF metrics(control->font());
    const double lineHeight = std::ceil(std::max(metrics.lineSpacing(), metrics.height()));
    const int byLineSpacing = static_cast<int>(std::floor((clientHeight - margins) / lineHeight));
    return std::min(byPixelSize, byLineSpacing);
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

QFont FixedPitchFont(const QFont& base) {
    QFont font = base;
    for (const char* family : {"Consolas", "Courier New"}) {
        if (QFontDatabase::hasFamily(QLatin1String(family))) {
            font.setFamilies({QLatin1String(family)});
            font.setStyleHint(QFont::TypeWriter);
            return font;
        }
    }
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(base.pointSizeF());
    return fixed;
}

void UseFixedPitchOnWindows(QWidget* window) {
#ifdef Q_OS_WIN
    window->setFont(FixedPitchFont(window->font()));
#else
    (void)window;
#endif
}
