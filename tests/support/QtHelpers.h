#pragma once
// Helpers for tests with real windows.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace testsupport {

// Runs the event loop until pred holds or timeoutMs passes; returns pred's last value.
// The loop sleeps between events (a 10 ms timer wakes it to test pred again).
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) {
            return pred();
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Closes the next modal dialog that opens (accepting it) and records its text through
// the callback, so that code which shows a note can run unattended.
inline void AcceptNextModal(std::function<void(QDialog*)> seen = {}) {
    QTimer::singleShot(0, [seen] {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* d = qobject_cast<QDialog*>(w)) {
            if (seen) {
                seen(d);
            }
            d->accept();
        } else {
            AcceptNextModal(seen);  // not up yet: look again on the next turn
        }
    });
}

}  // namespace testsupport
