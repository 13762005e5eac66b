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

// While it lives, accepts every modal dialog that opens and reports it to the callback
// first, so that code which shows a note or an error box can run unattended. Owned by the
// test, so nothing of it outlives the test that made it.
class ModalAcceptor {
  public:
    explicit ModalAcceptor(std::function<void(QDialog*)> seen = {}) : seen_(std::move(seen)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                if (seen_) {
                    seen_(dialog);
                }
                dialog->accept();
            }
        });
        timer_.start();
    }

  private:
    std::function<void(QDialog*)> seen_;
    QTimer timer_;
};

}  // namespace testsupport
