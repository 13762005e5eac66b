#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "support/QtHelpers.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"

namespace {

void ExpectMessageLayout(QWidget* window, const QLabel* label, const QWidget* button, const QString& text) {
    EXPECT_EQ(label->text(), text);
    EXPECT_TRUE(label->wordWrap());
    EXPECT_EQ(label->width(), window->width() - 20);
    EXPECT_EQ(label->x(), 10);
    EXPECT_EQ(label->y(), 10);
    EXPECT_EQ(label->height(), button->y() - 10 - 8);
}

TEST(NoteWindow, ShowsModallyCentredOverTheCallerWithoutClamping) {
    TFormNote note;
    EXPECT_EQ(note.windowTitle(), "Note");
    EXPECT_EQ(qobject_cast<QPushButton*>(note.ButtonOK())->text(), "&OK");
    bool wasModal = false;
    QRect frameWhileShown;
    // Read the window while exec() shows it: the zero timer fires inside its event loop.
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        wasModal = d == &note && d->isModal();
        frameWhileShown = d->frameGeometry();
        d->accept();
    });
    const QRect narrow(-40, 10, 100, 60);  // narrower than the note: it lands left of the bounds
    note.ShowMessageOver(narrow, "Error opening device COM7");
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(note.isVisible());
    EXPECT_EQ(frameWhileShown.topLeft(), CentredOver(narrow, frameWhileShown.size(), false));
    EXPECT_LT(frameWhileShown.left(), 0);
    ExpectMessageLayout(&note, note.Label(), note.ButtonOK(), "Error opening device COM7");
}

TEST(WaitWindow, ShowsWithoutBlockingAndCancelRunsOnlyTheAttachedHandler) {
    TFormWait wait;
    EXPECT_EQ(wait.windowTitle(), "Wait");
    wait.ShowWaitOver(QRect(0, 0, 800, 600), "Attempting COM1 at 4800");
    EXPECT_TRUE(wait.isVisible());
    ExpectMessageLayout(&wait, wait.Label(), wait.ButtonCancel(), "Attempting COM1 at 4800");

    auto* cancel = qobject_cast<QPushButton*>(wait.ButtonCancel());
    EXPECT_EQ(cancel->text(), "&Cancel");
    cancel->click();  // no handler attached: nothing happens, the window stays
    EXPECT_TRUE(wait.isVisible());

    int calls = 0;
    wait.SetCancelHandler([&] {
        ++calls;
        wait.SetCancelHandler(nullptr);  // a handler may detach itself while running
        wait.hide();
    });
    cancel->click();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(wait.isVisible());
    cancel->click();
    EXPECT_EQ(calls, 1);
}

TEST(MessageWindows, GrowForALongTextAndShrinkBackForAShortOne) {
    TFormWait wait;
    const int designHeight = wait.height();
    const QString longText =
        QString("Permission denied. /dev/ttyUSB0 belongs to the group dialout. ").repeated(4);
    wait.ShowWaitOver(QRect(0, 0, 800, 600), longText);
    EXPECT_GT(wait.height(), designHeight);
    EXPECT_GE(wait.Label()->height(),
              wait.Label()->heightForWidth(wait.Label()->width()));  // nothing cut off
    ExpectMessageLayout(&wait, wait.Label(), wait.ButtonCancel(), longText);
    wait.ShowWaitOver(QRect(0, 0, 800, 600), "Attempting COM1 at 4800");
    EXPECT_EQ(wait.height(), designHeight);
    ExpectMessageLayout(&wait, wait.Label(), wait.ButtonCancel(), "Attempting COM1 at 4800");
}

}  // namespace
