#pragma once
// Helpers for tests with real windows.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
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
            QPointer<QDialog> dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            if (seen_) {
                seen_(dialog);
            }
            dialog->accept();
            // A dialog that stays open through several accept() calls is rejected: a failure
            // of the test, not a hang until the time-out.
            refusals_ = dialog != nullptr && dialog->isVisible() ? refusals_ + 1 : 0;
            if (refusals_ == kMostRefusals) {
                ADD_FAILURE() << "a " << dialog->metaObject()->className() << " would not accept";
                dialog->reject();
            }
        });
        timer_.start();
    }

  private:
    std::function<void(QDialog*)> seen_;
    static constexpr int kMostRefusals = 3;
    int refusals_ = 0;
    QTimer timer_;
};

}  // namespace testsupport
