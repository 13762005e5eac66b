#include "ui/Lineopen.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>

#include "link/Linefactory.h"
#include "link/Port.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"

namespace {
constexpr int kPollMs = 20;  // how often the window looks whether the open has finished

// What the opening thread and the window share.
struct Attempt {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> opened{false};
};

// Runs the window's events until the attempt has finished.
void WaitFor(const Attempt& attempt) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (attempt.finished.load()) {
            loop.quit();
        }
    });
    poll.start();
    if (!attempt.finished.load()) {
        loop.exec();
    }
}
}  // namespace

bool OpenLinkLine(const std::string& name, uint32_t baud, QWidget* over) {
    AnyLine& link = Link().line;
    link.Close();
    std::shared_ptr<Line> line = MakeLine(name);
    if (!line->IsRemote()) {
        const bool opened = link.Open(name, baud, 0);
        if (opened) {
            link.Purge();
        }
        return opened;
    }
    line->SetBlocking(link.Blocking());
    auto attempt = std::make_shared<Attempt>();
    line->SetOpenCancel([attempt] { return attempt->cancelled.load(); });
    std::thread opener([line, name, baud, attempt] {
        const bool opened = line->Open(name, baud, 0);
        if (opened) {
            line->Purge();
        }
        attempt->opened.store(opened);
        attempt->finished.store(true);
    });
    if (over != nullptr) {
        over->setEnabled(false);  // its buttons would start another open meanwhile
    }
    if (FormWait != nullptr && over != nullptr) {
        FormWait->ShowWaitOver(
            BoundsOf(over), QStringLiteral("Connecting to %1...").arg(QString::fromStdString(line->Where())));
        FormWait->SetCancelHandler([attempt] { attempt->cancelled.store(true); });
    }
    WaitFor(*attempt);
    opener.join();
    if (FormWait != nullptr) {
        FormWait->SetCancelHandler(nullptr);
        FormWait->hide();
    }
    if (over != nullptr) {
        over->setEnabled(true);
    }
    line->SetOpenCancel(nullptr);
    return link.TakeOpened(line, attempt->opened.load());
}
