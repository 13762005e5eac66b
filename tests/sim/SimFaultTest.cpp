// Each injected fault does what it says, seen from the program's side of the line.
#include <gtest/gtest.h>

#include "SimHarness.h"

namespace {

class SimFaultTest : public ::testing::Test {
  protected:
    void StartSim(const SimFaults& faults, uint32_t mask = config::kMaskGGA) {
        SimOptions options = FastOptions();
        options.settings.nmeaMask = mask;
        options.faults = faults;
        sim_ = std::make_unique<SimReceiver>(std::move(options));
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(link_.Open(sim_->DevicePath(), sim_->LineBaud()));
    }

    int CountId(uint8_t id) const {
        int n = 0;
        for (const Bytes& f : link_.frames) {
            n += FrameId(f) == id;
        }
        return n;
    }

    // The bootloader's answer to one command, -1 for none within the limit.
    int X1fAnswer(uint8_t code, uint32_t value = 0, const Bytes& data = {}, int timeoutMs = 1000) {
        link_.Send(X1fFrame(code, value, data));
        const auto reply = link_.AwaitX1fResult(timeoutMs);
        return reply ? X1fCode(*reply) : -1;
    }

    std::unique_ptr<SimReceiver> sim_;
    SimLink link_;
};

// Noise and drops hit both directions: some requests never arrive, some replies arrive broken
// (the framer drops them), and the record marks every reply that left damaged.
TEST_F(SimFaultTest, NoiseAndDropsLoseFramesAndTheRecordMarksThem) {
    struct Row {
        const char* legend;
        double bitErrorRate;
        double dropRate;
    };
    for (const Row row : {Row{"noise", 2e-3, 0.0}, Row{"drops", 0.0, 0.01}}) {
        SCOPED_TRACE(row.legend);
        SimFaults faults;
        faults.bitErrorRate = row.bitErrorRate;
        faults.dropRate = row.dropRate;
        StartSim(faults, 0);
        constexpr int kRequests = 60;
        for (int i = 0; i < kRequests; ++i) {
            link_.Send(RequestFrame(msgid::kHardware));
            link_.Collect(15);
        }
        link_.Collect(300);
        int received = 0;
        int sentIntact = 0;
        int sentDamaged = 0;
        Bytes intended;
        for (const SimRecordEntry& e : sim_->Record()) {
            if (e.kind != SimKind::kFrame) {
                continue;
            }
            received +=
                e.direction == SimDirection::kReceived && e.bytes[frame::kIdOffset] == msgid::kRequest;
            if (e.bytes[frame::kIdOffset] != msgid::kHardware) {
                continue;
            }
            sentIntact += e.direction == SimDirection::kSent && !e.damaged;
            if (e.direction == SimDirection::kSent) {
                intended = e.bytes;
            }
            sentDamaged += e.direction == SimDirection::kSent && e.damaged;
        }
        EXPECT_LT(received, kRequests) << "some requests were lost on the way in";
        EXPECT_GT(received, 0);
        EXPECT_GT(sentDamaged, 0) << "some replies were hit on the way out";
        // Every reply is the same frame, so an intact arrival is one equal to it. A broken
        // frame can swallow the start of the next (its length still counts lost bytes), so
        // intact replies only bound what arrives. (Two flips in the same bit of different
        // bytes pass the XOR checksum: that weakness belongs to the frame format.)
        int intactArrivals = 0;
        for (const Bytes& f : link_.frames) {
            intactArrivals += f == intended;
        }
        EXPECT_LE(intactArrivals, sentIntact);
        EXPECT_GT(intactArrivals, 0);
        sim_->Stop();
    }
}

TEST_F(SimFaultTest, NoReplyToAMessageSilencesOnlyThatMessage) {
    SimFaults faults;
    faults.noReplyTo = {msgid::kHardware};
    StartSim(faults);
    link_.Send(RequestFrame(msgid::kHardware));
    link_.Send(RequestFrame(msgid::kConfig));
    EXPECT_TRUE(link_.AwaitFrameId(msgid::kConfig));
    link_.Collect(300);
    EXPECT_EQ(CountId(msgid::kHardware), 0);

    faults.noReplyTo = {msgid::kConfig};  // also the settings and calibration commands in 216
    sim_->SetFaults(faults);
    link_.Send(CalibrationFrame(config::kCalStartFirst));
    link_.Send(RequestFrame(msgid::kConfig));
    link_.Collect(300);
    EXPECT_EQ(CountId(msgid::kConfig), 0);
    EXPECT_EQ(sim_->Calibration(), CalPhase::kIdle);
}

TEST_F(SimFaultTest, BootloaderCommandsGetTheirForcedReplyOrNone) {
    SimFaults faults;
    faults.x1fReplyCode = {{x1f::kSetup, x1f::kBadCmd}, {x1f::kLoad, x1f::kFail}, {x1f::kCrcRam, 150}};
    faults.noReplyX1f = {x1f::kProgram};
    StartSim(faults);
    struct Row {
        uint8_t command;
        int reply;
    };
    const Row rows[] = {{x1f::kPing, x1f::kPass},
                        {x1f::kSetup, x1f::kBadCmd},
                        {x1f::kLoad, x1f::kFail},
                        {x1f::kCrcRam, 150},
                        {x1f::kProgram, -1}};
    for (const Row& row : rows) {
        EXPECT_EQ(X1fAnswer(row.command, 0x10000, Bytes(16, 0xAA), 400), row.reply) << int(row.command);
    }
    EXPECT_TRUE(sim_->RamImage().empty()) << "a forced reply leaves the command without effect";
    EXPECT_EQ(sim_->Mode(), SimMode::kBootloader);
}

TEST_F(SimFaultTest, Reject255AnswersWithFramesOfId255) {
    SimFaults faults;
    faults.reject255 = true;
    StartSim(faults, 0);
    link_.Send(RequestFrame(msgid::kConfig));
    ASSERT_TRUE(link_.AwaitFrameId(msgid::kRejected));
    link_.Collect(300);
    EXPECT_EQ(CountId(msgid::kConfig), 0);
    EXPECT_EQ(CountId(kSimStatusId), 0) << "its own frames carry 255 as well";
}

TEST_F(SimFaultTest, SilenceSendsNothingButStillListens) {
    SimFaults faults;
    faults.silent = true;
    StartSim(faults, 0x3F);
    link_.Send(RequestFrame(msgid::kConfig));
    link_.Collect(400);
    EXPECT_TRUE(link_.raw.empty());
    const auto record = sim_->Record();
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].direction, SimDirection::kReceived);

    sim_->SetFaults({});  // and talks again once the fault is cleared
    link_.Send(RequestFrame(msgid::kConfig));
    EXPECT_TRUE(link_.AwaitFrameId(msgid::kConfig));
}

TEST_F(SimFaultTest, OtherTalkersOnlySendsNoGpSentencesAndNoFrames) {
    SimFaults faults;
    faults.otherTalkersOnly = true;
    StartSim(faults, 0x3F);
    link_.Send(RequestFrame(msgid::kConfig));
    link_.Collect(400);
    EXPECT_TRUE(link_.frames.empty());
    ASSERT_FALSE(link_.lines.empty());
    for (const std::string& line : link_.lines) {
        EXPECT_TRUE(line.rfind("$GL", 0) == 0 || line.rfind("$BD", 0) == 0 || line.rfind("$GN", 0) == 0)
            << line;
    }
}

TEST_F(SimFaultTest, DeviceVanishesAfterTheChosenBlock) {
    SimFaults faults;
    faults.vanishAfterLoads = 2;
    StartSim(faults);
    ASSERT_EQ(X1fAnswer(x1f::kPing), x1f::kPass);
    ASSERT_EQ(X1fAnswer(x1f::kSetup, 0x10000), x1f::kPass);
    EXPECT_EQ(X1fAnswer(x1f::kLoad, 0x10000, Bytes(256, 1)), x1f::kPass);
    EXPECT_EQ(X1fAnswer(x1f::kLoad, 0x10100, Bytes(256, 2)), x1f::kPass)
        << "the last block is still answered";
    EXPECT_EQ(X1fAnswer(x1f::kLoad, 0x10200, Bytes(256, 3), 300), -1);
    for (int i = 0; i < 60 && !sim_->Vanished(); ++i) {  // bounded, for a loaded machine
        link_.Collect(50);
    }
    EXPECT_TRUE(sim_->Vanished());
    EXPECT_FALSE(link_.ReadOnce(100)) << "the program's port sees the device gone";
}

TEST_F(SimFaultTest, VanishOnRequestClosesTheLine) {
    StartSim({});
    sim_->Vanish();
    // Bounded, and generous for a loaded machine: each Collect stops at the failed read.
    for (int i = 0; i < 60 && !sim_->Vanished(); ++i) {
        link_.Collect(50);
    }
    EXPECT_TRUE(sim_->Vanished());
    EXPECT_FALSE(link_.ReadOnce(100));
}

}  // namespace
