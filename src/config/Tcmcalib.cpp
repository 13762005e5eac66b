#include "config/Tcmcalib.h"

#include "proto/Messages.h"

namespace {
constexpr double kDegreesPerUnit = 0.09;
}  // namespace

std::string CalibrationValueText(int32_t value) {
    return std::string(8, ' ') + FormatGeneral(value * kDegreesPerUnit);
}

void TcmCalibration::Open() {
    view_ = CalibrationView{};
    view_.status1 = "Park vehicle on a hard flat surface.";
    view_.status2 = "Press Continue to calibrate the TCM.";
    view_.status3.clear();
    step_ = CalibrationStep::FirstPosition;
}

CalibrationEffects TcmCalibration::Continue() {
    CalibrationEffects fx;
    if (step_ == CalibrationStep::FirstPosition || step_ == CalibrationStep::SecondPosition) {
        const bool first = step_ == CalibrationStep::FirstPosition;
        fx.send = first ? config::kCalStartFirst : config::kCalStartSecond;
        view_.status1 = "Please Wait";
        view_.status2 = "Calibrating...";
        view_.status3 = "(This process will take no more than 5 seconds.)";
        fx.startPolling = true;
        view_.button1.enabled = false;
        view_.button2.enabled = true;
        polls_ = 0;
        step_ = first ? CalibrationStep::FirstMeasuring : CalibrationStep::SecondMeasuring;
    } else if (step_ == CalibrationStep::Finished) {
        fx.hideWindow = true;
    }
    return fx;
}

CalibrationEffects TcmCalibration::Cancel() {
    CalibrationEffects fx;
    fx.send = config::kCalAbort;
    fx.stopPolling = true;
    if (step_ == CalibrationStep::Finished) {
        fx.hideWindow = true;
        return fx;
    }
    view_.status1.clear();
    view_.status2 = "TCM level calibration process aborted/failed.";
    view_.status3.clear();
    view_.button2.enabled = true;
    view_.button2.caption = "OK";
    view_.button1.enabled = false;
    view_.button1.visible = false;
    step_ = CalibrationStep::Finished;
    return fx;
}

CalibrationEffects TcmCalibration::PollTick() {
    CalibrationEffects fx;
    ++polls_;
    if (polls_ >= kMaxPolls) {  // the thirteenth poll is the last of a measurement
        polls_ = 0;
        fx.stopPolling = true;
    }
    fx.send = config::kCalPoll;
    return fx;
}

CalibrationEffects TcmCalibration::Reply(uint8_t state, int32_t value) {
    CalibrationEffects fx;
    switch (state) {
        case config::kCalMustStop:
            view_.status1 = "Park vehicle on a hard flat surface.";
            view_.status2.clear();
            view_.status3 = "The vehicle must be stopped to calibrate.";
            view_.button2 = {true, true, "Cancel"};
            view_.button1.enabled = false;
            view_.button1.visible = false;
            break;
        case config::kCalFirstDone:
            view_.status1 = "Position vehicle in the opposite direction";
            view_.status2 = "  at the same location.";
            view_.status3 = "Press continue when ready.";
            view_.button1.enabled = true;
            view_.button2.enabled = true;
            step_ = CalibrationStep::SecondPosition;
            break;
        case config::kCalComplete:
            view_.status1 = "TCM calibration complete.";
            view_.status2 = "0 degree  Calibration Value:";
            view_.status3 = CalibrationValueText(value);
            view_.button1.enabled = true;
            view_.button1.caption = "OK";
            view_.button2.enabled = false;
            view_.button2.visible = false;
            step_ = CalibrationStep::Finished;
            break;
        default:
            return fx;  // not a state the wizard knows: nothing changes
    }
    fx.stopPolling = true;
    return fx;
}
