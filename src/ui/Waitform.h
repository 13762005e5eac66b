#pragma once
// The wait window: a non-modal message with Cancel. Cancel has no handler of its own; the
// caller attaches one while the window is up and detaches it when done.
#include <QDialog>
#include <functional>

namespace Ui {
class TFormWait;
}
class QLabel;

class TFormWait : public QDialog {
    Q_OBJECT
  public:
    explicit TFormWait(QWidget* parent = nullptr);
    ~TFormWait() override;

    // Shows text centred over bounds (not clamped) and returns at once.
    void ShowWaitOver(const QRect& bounds, const QString& text);
    // The handler Cancel calls; an empty function detaches it.
    void SetCancelHandler(std::function<void()> handler);

    QLabel* Label() const;
    QWidget* ButtonCancel() const;

  protected:
    void reject() override;

  private:
    Ui::TFormWait* ui;
    std::function<void()> cancelHandler_;
};

extern TFormWait* FormWait;
