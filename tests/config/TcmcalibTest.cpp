#include <gtest/gtest.h>

#include "config/Tcmcalib.h"

namespace {

using Step = CalibrationStep;

TEST(TcmCalibration, NormalRunFromOpenToHidden) {
    TcmCalibration cal;
    cal.Open();
    EXPECT_EQ(cal.Step(), Step::FirstPosition);
    EXPECT_EQ(cal.View().status1, "Park vehicle on a hard flat surface.");
    EXPECT_EQ(cal.View().status2, "Press Continue to calibrate the TCM.");

    auto fx = cal.Continue();
    EXPECT_EQ(fx.send, config::kCalStartFirst);
    EXPECT_TRUE(fx.startPolling);
    EXPECT_EQ(cal.Step(), Step::FirstMeasuring);
    EXPECT_EQ(cal.View().status3, "(This process will take no more than 5 seconds.)");
    EXPECT_FALSE(cal.View().button1.enabled);

    fx = cal.Reply(config::kCalFirstDone, 0);
    EXPECT_TRUE(fx.stopPolling);
    EXPECT_EQ(cal.Step(), Step::SecondPosition);
    EXPECT_EQ(cal.View().status2, "  at the same location.");

    EXPECT_EQ(cal.Continue().send, config::kCalStartSecond);
    EXPECT_EQ(cal.Step(), Step::SecondMeasuring);

    fx = cal.Reply(config::kCalComplete, 100);
    EXPECT_EQ(cal.Step(), Step::Finished);
    EXPECT_EQ(cal.View().status3, "        9");
    EXPECT_EQ(cal.View().button1.caption, "OK");
    EXPECT_FALSE(cal.View().button2.visible);

    fx = cal.Continue();
    EXPECT_TRUE(fx.hideWindow);
    EXPECT_FALSE(fx.send);
}

TEST(TcmCalibration, EveryStepAndEvent) {
    struct Row {
        Step from;
        const char* event;
        std::optional<uint8_t> sent;
        Step to;
        bool hides;
    };
    const Row rows[] = {
        {Step::FirstPosition, "continue", 4, Step::FirstMeasuring, false},
        {Step::SecondPosition, "continue", 6, Step::SecondMeasuring, false},
        {Step::Finished, "continue", std::nullopt, Step::Finished, true},
        {Step::FirstMeasuring, "continue", std::nullopt, Step::FirstMeasuring, false},
        {Step::FirstPosition, "cancel", 3, Step::Finished, false},
        {Step::FirstMeasuring, "cancel", 3, Step::Finished, false},
        {Step::SecondPosition, "cancel", 3, Step::Finished, false},
        {Step::SecondMeasuring, "cancel", 3, Step::Finished, false},
        {Step::Finished, "cancel", 3, Step::Finished, true},
        {Step::FirstMeasuring, "poll", 1, Step::FirstMeasuring, false},
        {Step::SecondMeasuring, "reply2", std::nullopt, Step::SecondMeasuring, false},
        {Step::FirstPosition, "reply5", std::nullopt, Step::SecondPosition, false},
        {Step::FirstMeasuring, "reply7", std::nullopt, Step::Finished, false},
        {Step::FirstMeasuring, "reply9", std::nullopt, Step::FirstMeasuring, false},
    };
    for (const Row& r : rows) {
        TcmCalibration cal;
        cal.Open();
        // Walk to the row's starting step through real events.
        if (r.from == Step::FirstMeasuring || r.from == Step::SecondPosition ||
            r.from == Step::SecondMeasuring) {
            cal.Continue();
        }
        if (r.from == Step::SecondPosition || r.from == Step::SecondMeasuring) {
            cal.Reply(5, 0);
        }
        if (r.from == Step::SecondMeasuring) {
            cal.Continue();
        }
        if (r.from == Step::Finished) {
            cal.Cancel();
        }
        ASSERT_EQ(cal.Step(), r.from) << r.event;
        const std::string e = r.event;
        CalibrationEffects fx = e == "continue" ? cal.Continue()
                                : e == "cancel" ? cal.Cancel()
                                : e == "poll"   ? cal.PollTick()
                                                : cal.Reply(static_cast<uint8_t>(e.back() - '0'), 0);
        EXPECT_EQ(fx.send, r.sent) << static_cast<int>(r.from) << " " << e;
        EXPECT_EQ(cal.Step(), r.to) << static_cast<int>(r.from) << " " << e;
        EXPECT_EQ(fx.hideWindow, r.hides) << static_cast<int>(r.from) << " " << e;
    }
}

TEST(TcmCalibration, ThirteenthPollStopsPollingAndUnknownRepliesLeaveTimersAlone) {
    TcmCalibration cal;
    cal.Open();
    cal.Continue();
    for (int i = 1; i <= 12; ++i) {
        const auto fx = cal.PollTick();
        EXPECT_FALSE(fx.stopPolling) << i;
        EXPECT_EQ(fx.send, config::kCalPoll);
    }
    const auto last = cal.PollTick();
    EXPECT_TRUE(last.stopPolling);
    EXPECT_EQ(last.send, config::kCalPoll);  // the stopping tick still polls
    EXPECT_EQ(cal.PollCount(), 0);

    const auto unknown = cal.Reply(9, 0);
    EXPECT_FALSE(unknown.stopPolling);
    EXPECT_FALSE(unknown.send);
}

TEST(TcmCalibration, MustStopHidesContinueAndLaterRepliesEnableButNotShowIt) {
    TcmCalibration cal;
    cal.Open();
    cal.Continue();
    EXPECT_TRUE(cal.Reply(config::kCalMustStop, 0).stopPolling);
    EXPECT_EQ(cal.View().status3, "The vehicle must be stopped to calibrate.");
    EXPECT_EQ(cal.View().button2.caption, "Cancel");  // never the misspelt caption
    EXPECT_FALSE(cal.View().button1.visible);
    cal.Reply(config::kCalFirstDone, 0);
    EXPECT_TRUE(cal.View().button1.enabled);
    EXPECT_FALSE(cal.View().button1.visible);
}

TEST(TcmCalibration, AbortTextsAndReopeningStartsOver) {
    TcmCalibration cal;
    cal.Open();
    cal.Continue();
    cal.Cancel();
    EXPECT_EQ(cal.View().status2, "TCM level calibration process aborted/failed.");
    EXPECT_EQ(cal.View().button2.caption, "OK");
    EXPECT_FALSE(cal.View().button1.visible);
    cal.Open();
    EXPECT_EQ(cal.Step(), Step::FirstPosition);
    EXPECT_TRUE(cal.View().button1.visible);
    EXPECT_EQ(cal.View().button2.caption, "Cancel");
}

TEST(CalibrationValueText, ScaledWithUpToFifteenDigits) {
    EXPECT_EQ(CalibrationValueText(100), "        9");
    EXPECT_EQ(CalibrationValueText(-7), "        -0.63");
    EXPECT_EQ(CalibrationValueText(0), "        0");
}

}  // namespace
