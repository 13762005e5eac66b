#include "ui/Lineopen.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "link/Lineattempt.h"
#include "link/Linefactory.h"
#include "link/Port.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"

namespace {
constexpr int kPollMs = 20;  // how often the window looks whether the open has finished

// Runs the window's events until the attempt has finished.
void WaitFor(const LineAttempt& attempt) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (attempt.Finished()) {
            loop.quit();
        }
    });
    poll.start();
    if (!attempt.Finished()) {
        loop.exec();
    }
}
}  // namespace

bool OpenLinkLine(const std::string& name, uint32_t baud, QWidget* over) {
    AnyLine& link = Link().line;
    link.Close();
    if (!MakeLine(name)->IsRemote()) {
        const bool opened = link.Open(name, baud, 0);
        if (opened) {
            link.Purge();
        }
        return opened;
    }
    LineAttempt attempt(name, baud, link.Blocking());
    if (over != nullptr) {
        over->setEnabled(false);  // its buttons would start another open meanwhile
        if (FormWait != nullptr) {
            FormWait->ShowWaitOver(
                BoundsOf(over),
                QStringLiteral("Connecting to %1...").arg(QString::fromStdString(attempt.Where())));
            FormWait->SetCancelHandler([&attempt] { attempt.Cancel(); });
        }
    }
    WaitFor(attempt);
    if (FormWait != nullptr && over != nullptr) {
        FormWait->SetCancelHandler(nullptr);
        FormWait->hide();
    }
    if (over != nullptr) {
        over->setEnabled(true);
    }
    return link.TakeOpened(attempt.TakeLine(), attempt.Opened());
}
