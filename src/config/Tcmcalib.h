#pragma once
// The steps of the two-position TCM level calibration, without a window: what each button,
// poll tick and receiver reply does to the texts, the buttons, the timers and the frames
// sent. The calibration dialog and the command-line wizard drive it.
#include <cstdint>
#include <optional>
#include <string>

#include "config/Configmsg.h"

enum class CalibrationStep : uint8_t {
    None = 0,
    FirstPosition = 1,  // waiting for Continue
    FirstMeasuring = 2,
    SecondPosition = 3,  // opposite direction: waiting for Continue
    SecondMeasuring = 4,
    Finished = 5,  // complete, aborted or failed
};

struct ButtonView {
    bool visible = true;
    bool enabled = true;
    std::string caption;
};

// What the window shows and what the wizard asks of its surroundings after an event.
struct CalibrationView {
    std::string status1;
    std::string status2;
    std::string status3;
    ButtonView button1{true, true, "Continue"};
    ButtonView button2{true, true, "Cancel"};
};

struct CalibrationEffects {
    std::optional<uint8_t> send;  // calibration command to send (byte 73)
    bool startPolling = false;    // stop the receive timer, start the 250 ms poll timer
    bool stopPolling = false;     // stop the poll timer, start the receive timer
    bool hideWindow = false;
};

class TcmCalibration {
  public:
    static constexpr int kPollIntervalMs = 250;
    static constexpr int kMaxPolls = 13;

    // The dialog opened: back to the first position, whatever happened before.
    void Open();
    CalibrationEffects Continue();  // Button1
    CalibrationEffects Cancel();    // Button2
    CalibrationEffects PollTick();  // the poll timer
    // A configuration reply with a non-zero calibration byte; value from bytes 74-77.
    CalibrationEffects Reply(uint8_t state, int32_t value);

    CalibrationStep Step() const { return step_; }
    const CalibrationView& View() const { return view_; }
    int PollCount() const { return polls_; }

  private:
    CalibrationStep step_ = CalibrationStep::None;
    CalibrationView view_;
    int polls_ = 0;
};

// The displayed calibration result: eight blanks and value x 0.09 ("        9").
std::string CalibrationValueText(int32_t value);
