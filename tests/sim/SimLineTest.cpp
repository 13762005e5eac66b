// The receiver's command side through a real port on its pseudo-terminal: requests, settings,
// the rate of the line, and what malformed input does to it.
#include <gtest/gtest.h>

#include <cstring>

#include "SimHarness.h"
#include "proto/Bytes.h"

namespace {

class SimLineTest : public ::testing::Test {
  protected:
    void StartSim(SimOptions options = FastOptions()) {
        sim_ = std::make_unique<SimReceiver>(std::move(options));
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(link_.Open(sim_->DevicePath(), sim_->LineBaud()));
    }
    std::unique_ptr<SimReceiver> sim_;
    SimLink link_;
};

std::string Text(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n));
}

TEST_F(SimLineTest, RequestForConfigurationIsAnsweredWithSettingsAndVersion) {
    SimOptions options = FastOptions();
    options.version = {2, 5, "ABC"};
    options.settings.nmeaMask = 0x25;
    options.settings.nmeaRate = 5;
    options.settings.lcHeight = 77;
    options.settings.altFreqInUse = 1;
    options.settings.altChannel = 41000;
    StartSim(options);
    link_.Send(RequestFrame(msgid::kConfig));
    const auto reply = link_.AwaitFrameId(msgid::kConfig);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), config::kFrameLength);
    const uint8_t* p = Payload(*reply);
    EXPECT_EQ(p[config::kVersionMajor], 2);
    EXPECT_EQ(p[config::kVersionMinor], 5);
    EXPECT_EQ(Text(p + config::kVersionSuffix, config::kVersionSuffixSize), "ABC");
    EXPECT_EQ(get_le32(p + config::kNmeaMask), 0x25u);
    EXPECT_EQ(p[config::kNmeaRate], 5);
    EXPECT_EQ(get_le32(p + config::kBaudRate), 19200u);
    EXPECT_EQ(p[config::kLcHeight], 77);
    EXPECT_EQ(p[config::kAltFreqInUse], 1);
    EXPECT_EQ(get_le32s(p + config::kAltChannel), 41000);
    EXPECT_EQ(p[config::kCalibrationCommand], 0) << "a plain request carries no calibration state";
}

TEST_F(SimLineTest, RequestForHardwareIsAnsweredWithTheIdentity) {
    SimOptions options = FastOptions();
    options.hardware = {-1, "ABCDEFGHIJKLMNOP", "C0777", 42};  // part number fills all 16 bytes
    StartSim(options);
    link_.Send(RequestFrame(msgid::kHardware));
    const auto reply = link_.AwaitFrameId(msgid::kHardware);
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), hardware::kUsedSize + frame::kOverhead);
    const uint8_t* p = Payload(*reply);
    EXPECT_EQ(get_le32s(p + hardware::kSerialNumber), -1);
    EXPECT_EQ(Text(p + hardware::kPartNumber, hardware::kPartNumberSize), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(Text(p + hardware::kCompatibility, hardware::kCompatibilitySize), "C0777");
    EXPECT_EQ(get_le32s(p + hardware::kVersionNumber), 42);
}

TEST_F(SimLineTest, EachRequestGetsExactlyOneReplyAndUnknownIdsNone) {
    StartSim();
    for (uint8_t id : {msgid::kConfig, msgid::kHardware, uint8_t{99}, msgid::kConfig}) {
        link_.Send(RequestFrame(id));
    }
    link_.Collect(600);
    int config = 0;
    int hardware = 0;
    for (const Bytes& f : link_.frames) {
        config += FrameId(f) == msgid::kConfig;
        hardware += FrameId(f) == msgid::kHardware;
    }
    EXPECT_EQ(config, 2);
    EXPECT_EQ(hardware, 1);
}

// A settings write changes exactly the groups whose flag byte is 1.
TEST_F(SimLineTest, SettingsWriteAppliesOnlyFlaggedGroups) {
    struct Row {
        const char* legend;
        uint16_t flag;
    };
    const Row rows[] = {
        {"NMEA", config::kNmeaFlag}, {"frequency", config::kFreqFlag}, {"TCM", config::kTcmFlag}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        StartSim();
        const SimSettings before = sim_->Settings();
        Bytes p = ConfigPayload(config::kCommandWriteSettings);
        p[row.flag] = 1;
        put_le32(&p[config::kNmeaMask], 0x3F);
        p[config::kNmeaRate] = 5;
        p[config::kAltFreqInUse] = 1;
        put_le32(&p[config::kAltChannel], 12345);
        p[config::kWaasOn] = 0;
        p[config::kCorrectionsOff] = 1;
        p[config::kTcmOn] = 0;
        p[config::kLcHeight] = 150;
        p[config::kLcForeAft] = 3;
        p[config::kTcmForward] = 0;
        link_.Send(ConfigFrame(p));
        const auto reply = link_.AwaitFrame(IsConfigWithState(-1));
        ASSERT_TRUE(reply);
        SimSettings expected = before;
        if (row.flag == config::kNmeaFlag) {
            expected.nmeaMask = 0x3F;
            expected.nmeaRate = 5;
        } else if (row.flag == config::kFreqFlag) {
            expected.altFreqInUse = 1;
            expected.altChannel = 12345;
            expected.waasOn = 0;
            expected.correctionsOff = 1;
        } else {
            expected.tcmOn = 0;
            expected.lcHeight = 150;
            expected.lcForeAft = 3;
            expected.tcmForward = 0;
        }
        EXPECT_EQ(sim_->Settings(), expected);
        EXPECT_EQ(get_le32(Payload(*reply) + config::kNmeaMask), expected.nmeaMask)
            << "the reply shows the result";
        EXPECT_EQ(Payload(*reply)[config::kLcHeight], expected.lcHeight);
        sim_->Stop();
    }
}

TEST_F(SimLineTest, ValuesTheReceiverCannotTakeLeaveTheSettingAsItWas) {
    StartSim();
    const SimSettings before = sim_->Settings();
    Bytes p = ConfigPayload(config::kCommandWriteSettings);
    p[config::kNmeaFlag] = 1;
    p[config::kNmeaRate] = 0;  // the loader's restore message carries no rate
    put_le32(&p[config::kNmeaMask], before.nmeaMask);
    p[config::kBaudFlag] = 1;
    put_le32(&p[config::kBaudRate], 12345);
    p[config::kTcmFlag] = 1;
    p[config::kTcmOn] = before.tcmOn;
    p[config::kTcmForward] = before.tcmForward;
    p[config::kLcHeight] = 0;
    p[config::kLcForeAft] = 201;
    link_.Send(ConfigFrame(p));
    ASSERT_TRUE(link_.AwaitFrame(IsConfigWithState(-1)));
    EXPECT_EQ(sim_->Settings(), before);
    EXPECT_EQ(sim_->LineBaud(), 19200u);
}

// The program switches its port 200 ms after sending; the reply still arrives at the old
// rate, and the next request is answered at the new one.
TEST_F(SimLineTest, BaudChangeTakesEffectAfterTheReplyAndThePortFollows) {
    StartSim();
    Bytes p = ConfigPayload(config::kCommandWriteSettings);
    p[config::kBaudFlag] = 1;
    put_le32(&p[config::kBaudRate], 38400);
    link_.Send(ConfigFrame(p));
    const auto reply = link_.AwaitFrame(IsConfigWithState(-1), 200);
    ASSERT_TRUE(reply) << "the reply comes at the old rate";
    EXPECT_EQ(get_le32(Payload(*reply) + config::kBaudRate), 38400u);
    ASSERT_TRUE(link_.SetBaud(38400));
    link_.frames.clear();
    link_.Send(RequestFrame(msgid::kConfig));
    ASSERT_TRUE(link_.AwaitFrame(IsConfigWithState(-1)));
    EXPECT_EQ(sim_->LineBaud(), 38400u);
    EXPECT_EQ(sim_->Settings().baudRate, 38400u);
}

TEST_F(SimLineTest, MismatchedRateYieldsNoFrameAndNoSentenceEitherWay) {
    SimOptions options = FastOptions();
    options.settings.nmeaMask = config::kMaskGGA | config::kMaskRMC;
    options.faults.silent = true;  // until the port is at its wrong rate
    StartSim(options);
    ASSERT_TRUE(link_.SetBaud(9600));
    sim_->SetFaults({});
    for (int i = 0; i < 5; ++i) {
        link_.Send(RequestFrame(msgid::kConfig));
    }
    link_.Collect(800);
    EXPECT_TRUE(link_.frames.empty());
    for (const std::string& line : link_.lines) {
        EXPECT_EQ(line.find('$'), std::string::npos) << line;
    }
    EXPECT_FALSE(link_.raw.empty()) << "garbage still arrives";
    for (const SimRecordEntry& e : sim_->Record()) {
        EXPECT_TRUE(e.damaged);
        if (e.direction == SimDirection::kReceived) {
            // No request reached the receiver intact; the record says at which rates it came.
            EXPECT_EQ(e.kind, SimKind::kBytes);
            EXPECT_EQ(e.sentBaud, 9600u);
            EXPECT_EQ(e.heardBaud, 19200u);
        }
    }
    // Back at the right rate everything works again.
    ASSERT_TRUE(link_.SetBaud(19200));
    link_.Send(RequestFrame(msgid::kConfig));
    EXPECT_TRUE(link_.AwaitFrameId(msgid::kConfig));
}

TEST_F(SimLineTest, MalformedInputIsSurvivedAndTheNextRequestAnswered) {
    StartSim();
    Bytes junk;
    for (int i = 0; i < 4000; ++i) {
        junk.push_back(static_cast<uint8_t>((i * 7919) ^ (i >> 3)));
    }
    // Frames too short for their message, a length field that wraps, an oversized one.
    Bytes shortConfig = ConfigFrame(Bytes(10, 0x02));
    Bytes shortX1f = {0x02, 0x99, 0x66, 31, 0x05, 0x00, 0x00, 31 ^ 0x05, 0x03};
    Bytes wrapped = {0x02, 0x99, 0x66, 0x10, 0xFF, 0xFF, 0x10, 0x03};
    Bytes oversized = {0x02, 0x99, 0x66, 0x10, 0xF0, 0xFF};
    for (const Bytes& b : {junk, shortConfig, shortX1f, wrapped, oversized}) {
        link_.Send(b);
    }
    link_.Collect(300);
    link_.frames.clear();
    link_.Send(RequestFrame(msgid::kConfig));
    EXPECT_TRUE(link_.AwaitFrameId(msgid::kConfig));
    EXPECT_EQ(sim_->Mode(), SimMode::kRunning);
}

}  // namespace
