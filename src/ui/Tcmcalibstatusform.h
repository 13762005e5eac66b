#pragma once
// The TCM level calibration wizard's window. The steps live in TcmCalibration; this window
// shows them, sends the frames they ask for and runs the poll timer, stopping the main
// window's receive timer while a measurement runs.
#include <QDialog>
#include <cstdint>

#include "config/Tcmcalib.h"

namespace Ui {
class TFormTCMCalibStatus;
}
class QLabel;
class QPushButton;
class QTimer;

class TFormTCMCalibStatus : public QDialog {
    Q_OBJECT
  public:
    explicit TFormTCMCalibStatus(QWidget* parent = nullptr);
    ~TFormTCMCalibStatus() override;

    void ShowOver(const QRect& bounds);
    void Button1Click();
    void Button2Click();
    void TimerTimer();
    void OnCalibrationMessage(const uint8_t* frame, int32_t length);

    const TcmCalibration& Wizard() const { return wizard_; }
    QLabel* LabelStatus(int line) const;
    QPushButton* Button1() const;
    QPushButton* Button2() const;
    QTimer* Timer() const { return timer_; }
    // Runs while the answers to a finished measurement's polls may still arrive.
    QTimer* DrainTimer() const { return drainTimer_; }

    bool positioned = false;

  protected:
    void reject() override;

  private:
    void Apply(const CalibrationEffects& fx);
    void ShowView();
    void Send(uint8_t command);

    Ui::TFormTCMCalibStatus* ui;
    QTimer* timer_;
    QTimer* drainTimer_;
    TcmCalibration wizard_;
    uint8_t frameBuffer_[1024] = {};
};

extern TFormTCMCalibStatus* FormTCMCalibStatus;
