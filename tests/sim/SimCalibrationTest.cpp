// The level calibration as the program's wizard drives it: a start frame, then polls every
// 250 ms (a tenth of that here, as the receiver's time is scaled), replies read by byte 73.
#include <gtest/gtest.h>

#include <thread>

#include "SimHarness.h"
#include "proto/Bytes.h"

namespace {

constexpr int kPollsPerMeasurement = 13;
constexpr auto kPollInterval = std::chrono::milliseconds(25);

class SimCalibrationTest : public ::testing::Test {
  protected:
    void StartSim(SimOptions options = FastOptions()) {
        options.settings.nmeaMask = config::kMaskGGA;
        options.calibrationValue = -7;
        sim_ = std::make_unique<SimReceiver>(std::move(options));
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(link_.Open(sim_->DevicePath(), sim_->LineBaud()));
    }

    // Sends the command, then polls as the wizard does until a reply carries a state.
    // Returns that reply, or nullopt when all polls went by without one.
    std::optional<Bytes> Measure(uint8_t startCommand) {
        link_.Send(CalibrationFrame(startCommand));
        for (int poll = 0; poll < kPollsPerMeasurement; ++poll) {
            std::this_thread::sleep_for(kPollInterval);
            link_.Send(CalibrationFrame(config::kCalPoll));
            if (auto reply = link_.AwaitFrame(IsStateReply, 5)) {
                return reply;
            }
        }
        return link_.AwaitFrame(IsStateReply, 100);
    }

    static bool IsStateReply(const Bytes& f) {
        return FrameId(f) == msgid::kConfig && Payload(f)[config::kCalibrationCommand] != 0;
    }
    static uint8_t State(const Bytes& f) { return Payload(f)[config::kCalibrationCommand]; }

    std::unique_ptr<SimReceiver> sim_;
    SimLink link_;
};

TEST_F(SimCalibrationTest, CompleteRunReportsFirstDoneThenValueAndMarksCalibrated) {
    StartSim();
    const auto first = Measure(config::kCalStartFirst);
    ASSERT_TRUE(first);
    EXPECT_EQ(State(*first), config::kCalFirstDone);
    link_.Collect(100);  // the answers to the polls still on their way
    link_.frames.clear();
    const auto second = Measure(config::kCalStartSecond);
    ASSERT_TRUE(second);
    EXPECT_EQ(State(*second), config::kCalComplete);
    EXPECT_EQ(get_le32s(Payload(*second) + config::kCalibrationValue), -7);
    EXPECT_EQ(Payload(*second)[config::kTcmCalibrated], 1);
    // A later plain request shows the result in byte 72 and no state in byte 73.
    link_.frames.clear();
    link_.Send(RequestFrame(msgid::kConfig));
    const auto settings = link_.AwaitFrame(IsConfigWithState(0));
    ASSERT_TRUE(settings);
    EXPECT_EQ(Payload(*settings)[config::kTcmCalibrated], 1);
}

TEST_F(SimCalibrationTest, EveryCommandGetsOneReplyAndMeasuringReportsNoState) {
    StartSim();
    link_.Send(CalibrationFrame(config::kCalStartFirst));
    link_.Send(CalibrationFrame(config::kCalPoll));
    const auto ack = link_.AwaitFrame(IsConfigWithState(-1));
    const auto poll = link_.AwaitFrame(IsConfigWithState(-1));
    ASSERT_TRUE(ack && poll);
    EXPECT_EQ(State(*ack), 0);
    EXPECT_EQ(State(*poll), 0);
    EXPECT_EQ(sim_->Calibration(), CalPhase::kMeasuringFirst);
}

TEST_F(SimCalibrationTest, AbortDuringMeasurementEndsIt) {
    StartSim();
    link_.Send(CalibrationFrame(config::kCalStartFirst));
    link_.Send(CalibrationFrame(config::kCalAbort));
    EXPECT_FALSE(Measure(config::kCalPoll)) << "no state after the abort, however long one polls";
    EXPECT_EQ(sim_->Calibration(), CalPhase::kIdle);
}

TEST_F(SimCalibrationTest, SecondStartWithoutFirstChangesNothing) {
    StartSim();
    EXPECT_FALSE(Measure(config::kCalStartSecond));
    EXPECT_EQ(sim_->Calibration(), CalPhase::kIdle);
    EXPECT_EQ(sim_->Settings().tcmCalibrated, 0);
}

TEST_F(SimCalibrationTest, MovingVehicleGetsStateTwo) {
    struct Row {
        const char* legend;
        bool movingFromStart;
    };
    for (const Row row : {Row{"moving at the start", true}, Row{"starts moving while measuring", false}}) {
        SCOPED_TRACE(row.legend);
        SimOptions options = FastOptions();
        options.vehicleMoving = row.movingFromStart;
        StartSim(options);
        link_.Send(CalibrationFrame(config::kCalStartFirst));
        if (!row.movingFromStart) {
            sim_->SetVehicleMoving(true);
        }
        const auto reply = Measure(config::kCalPoll);
        ASSERT_TRUE(reply);
        EXPECT_EQ(State(*reply), config::kCalMustStop);
        EXPECT_EQ(sim_->Settings().tcmCalibrated, 0);
        sim_->Stop();
    }
}

}  // namespace
