#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "config/Configmsg.h"
#include "config/Hardwaremsg.h"
#include "proto/Bytes.h"
#include "proto/Diagproto.h"

namespace {

ApplyControls ValidControls() {
    ApplyControls c;
    c.heightText = "72";
    c.foreAftText = "12";
    return c;
}

// Payload bytes that differ from zero, as offset -> value.
std::map<int, int> NonZero(const ConfigPayload& p) {
    std::map<int, int> out;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != 0) {
            out[static_cast<int>(i)] = p[i];
        }
    }
    return out;
}

TEST(EncodeApply, ControlStatesGiveExactPayloadBytes) {
    struct Row {
        const char* legend;
        ApplyControls controls;
        std::map<int, int> bytes;
    };
    const std::map<int, int> always = {{0, 2}, {43, 1}, {49, 1}, {58, 1}, {65, 1}, {66, 1}};
    auto with = [&](std::map<int, int> extra) {
        std::map<int, int> b = always;
        for (auto [k, v] : extra) {
            if (v == 0) {
                b.erase(k);
            } else {
                b[k] = v;
            }
        }
        return b;
    };
    ApplyControls allUp = ValidControls();  // every pair released: off, corrections off, default, backward
    ApplyControls allDown = ValidControls();
    allDown.nmeaMask = 0x3F;
    allDown.nmeaRate = 5;
    allDown.baudRate = 38400;
    allDown.waasOnDown = allDown.correctionsOnDown = allDown.tcmOnDown = allDown.forwardDown = true;
    allDown.altDown = true;
    allDown.channelText = "1545.5";
    ApplyControls limits = ValidControls();
    limits.heightText = "1";
    limits.foreAftText = "200";
    const Row rows[] = {
        {"all pairs up", allUp, with({{68, 72}, {70, 12}, {48, 1}, {50, 0x00}, {51, 0x4B}})},
        {"all down", allDown,
         with({{68, 72},
               {70, 12},
               {44, 0x3F},
               {48, 5},
               {50, 0x00},
               {51, 0x96},
               {59, 1},
               {60, 0x28},
               {61, 0xA0},
               {64, 1},
               {65, 0},
               {67, 1},
               {71, 1}})},
        {"limits 1 and 200", limits, with({{68, 1}, {70, 200}, {48, 1}, {50, 0x00}, {51, 0x4B}})},
    };
    for (const Row& r : rows) {
        const ApplyResult res = EncodeApply(r.controls);
        ASSERT_TRUE(res.payload) << r.legend << ": " << res.error;
        EXPECT_EQ(NonZero(*res.payload), r.bytes) << r.legend;
    }
}

TEST(EncodeApply, HeightAndForeAftOutsideOneTo200OrNotNumbersStopApply) {
    struct Row {
        std::string height;
        std::string foreAft;
        const char* message;  // nullptr: accepted
    };
    const Row rows[] = {
        {"0", "12", kHeightMessage},    {"201", "12", kHeightMessage}, {"abc", "12", kHeightMessage},
        {"", "12", kHeightMessage},     {"1.5", "12", kHeightMessage}, {"12", "0", kForeAftMessage},
        {"12", "201", kForeAftMessage}, {"12", "x", kForeAftMessage},  {"0", "0", kHeightMessage},
        {" 7 ", "200", nullptr},        {"1", "1", nullptr},
    };
    for (const Row& r : rows) {
        ApplyControls c = ValidControls();
        c.heightText = r.height;
        c.foreAftText = r.foreAft;
        const ApplyResult res = EncodeApply(c);
        if (r.message == nullptr) {
            EXPECT_TRUE(res.payload) << r.height << "/" << r.foreAft;
        } else {
            EXPECT_FALSE(res.payload) << r.height << "/" << r.foreAft;
            EXPECT_EQ(res.error, r.message);
            EXPECT_FALSE(res.conversionError);
        }
    }
}

TEST(EncodeApply, FrequencyThatIsNotANumberIsAConversionErrorAndSendsNothing) {
    for (const char* text : {"", "abc", "1545.5x", "nan"}) {
        ApplyControls c = ValidControls();
        c.altDown = true;
        c.channelText = text;
        const ApplyResult res = EncodeApply(c);
        EXPECT_FALSE(res.payload) << text;
        EXPECT_TRUE(res.conversionError) << text;
        EXPECT_FALSE(res.error.empty());
    }
    ApplyControls released = ValidControls();  // frequency ignored unless Alternate is down
    released.channelText = "abc";
    EXPECT_TRUE(EncodeApply(released).payload);
}

TEST(ChannelConversion, EveryShownFrequencyReturnsToItsOwnChannel) {
    EXPECT_EQ(MHzToChannel("1545.5"), 41000);
    EXPECT_EQ(FormatGeneral(ChannelToMHz(41000)), "1545.5");
    for (int32_t channel = 0; channel <= 200000; ++channel) {
        ASSERT_EQ(MHzToChannel(FormatGeneral(ChannelToMHz(channel))), channel) << channel;
    }
    EXPECT_EQ(MHzToChannel("1524.9995"), -1);
    try {  // what the setup dialog shows for a frequency no channel number can hold
        (void)MHzToChannel("1e9");
        ADD_FAILURE() << "1e9 MHz became a channel";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(),
                     "'1e9' is out of the range of correction channels (-1072216.824 to 1075266.8235 MHz)");
    }
}

TEST(DecodeConfigReply, ReadsEveryFieldAndIgnoresShortReplies) {
    ApplyControls c = ValidControls();
    c.nmeaMask = 0x15;
    c.nmeaRate = 5;
    c.waasOnDown = true;
    c.altDown = true;
    c.channelText = "1530";
    c.tcmOnDown = true;
    ConfigPayload p = *EncodeApply(c).payload;
    p[config::kForeAftEditable] = 1;
    p[config::kTcmCalibrated] = 1;
    const auto s = DecodeConfigReply(p.data(), p.size(), 9600);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->NmeaMask, 0x15u);
    EXPECT_EQ(s->NmeaRate, 5);
    EXPECT_EQ(s->BaudRate, 9600);  // the PC side's rate, not the reply's
    EXPECT_EQ(s->WaasOn, 1);
    EXPECT_EQ(s->CorrectionsOff, 1);
    EXPECT_EQ(s->AltFreq, 1);
    EXPECT_EQ(s->Channel, 10000);
    EXPECT_EQ(s->TcmOn, 1);
    EXPECT_EQ(s->LcHeight, 72);
    EXPECT_EQ(s->ForeAftEditable, 1);
    EXPECT_EQ(s->LcForeAft, 12);
    EXPECT_EQ(s->TcmCalibrated, 1);

    p[config::kAltFreqInUse] = 0;
    put_le32(p.data() + config::kDefaultChannel, 777);
    EXPECT_EQ(DecodeConfigReply(p.data(), p.size(), 0)->Channel, 777);  // default channel when not alternate

    EXPECT_FALSE(DecodeConfigReply(p.data(), config::kTcmCalibrated, 0));
    EXPECT_TRUE(DecodeConfigReply(p.data(), config::kTcmCalibrated + 1, 0));
}

TEST(DecodeConfigReply, EncodingWhatWasDecodedGivesTheSameBytes) {
    ApplyControls c = ValidControls();
    c.nmeaMask = 0x2A;
    c.baudRate = 4800;
    c.nmeaRate = 5;
    c.correctionsOnDown = true;
    c.altDown = true;
    c.channelText = FormatGeneral(ChannelToMHz(123457));
    c.forwardDown = true;
    const ConfigPayload sent = *EncodeApply(c).payload;
    const ReceiverSettings s = *DecodeConfigReply(sent.data(), sent.size(), 4800);
    ApplyControls back;
    back.nmeaMask = s.NmeaMask;
    back.baudRate = s.BaudRate;
    back.nmeaRate = s.NmeaRate;
    back.heightText = std::to_string(s.LcHeight);
    back.foreAftText = std::to_string(s.LcForeAft);
    back.altDown = s.AltFreq != 0;
    back.channelText = FormatGeneral(ChannelToMHz(s.Channel));
    back.waasOnDown = s.WaasOn != 0;
    back.correctionsOnDown = s.CorrectionsOff == 0;
    back.tcmOnDown = s.TcmOn != 0;
    back.forwardDown = s.TcmForward != 0;
    EXPECT_EQ(*EncodeApply(back).payload, sent);
}

TEST(DecodeVersion, MajorMinorAndSuffixToTheFirstZero) {
    ConfigPayload p{};
    p[config::kVersionMajor] = 2;
    p[config::kVersionMinor] = 5;
    p[config::kVersionSuffix] = 'a';
    p[config::kVersionSuffix + 1] = 'b';
    EXPECT_EQ(DecodeVersion(p.data(), p.size())->Text(), "2.5ab");
    p[config::kVersionSuffix + 2] = 'c';
    EXPECT_EQ(DecodeVersion(p.data(), p.size())->Text(), "2.5abc");
    EXPECT_FALSE(DecodeVersion(p.data(), 42));
}

TEST(ConfigFrames, CalibrationAndRestoreFramesAreWellFormed) {
    uint8_t frame[config::kFrameLength];
    ASSERT_EQ(BuildConfigFrame(EncodeCalibrationCommand(config::kCalStartFirst), frame), 86);
    DiagProto parser;
    bool complete = false;
    for (uint8_t b : frame) {
        complete = parser.ProcessByte(b);
    }
    ASSERT_TRUE(complete);
    EXPECT_EQ(frame[3], 216);
    EXPECT_EQ(frame[6 + config::kCommand], 0);  // calibration frames do not write settings
    EXPECT_EQ(NonZero(EncodeCalibrationCommand(3)), (std::map<int, int>{{73, 3}}));
    EXPECT_EQ(NonZero(EncodeNmeaAndBaud(0x11, 19200)),
              (std::map<int, int>{{0, 2}, {43, 1}, {44, 0x11}, {49, 1}, {51, 0x4B}}));
}

TEST(DecodeHardwareInfo, FieldsAndShortReplies) {
    uint8_t p[64] = {};
    put_le32(p, 0xFFFFFFFFu);
    std::memcpy(p + 4, "ABCDEFGHIJKLMNOP", 16);  // fills all 16 bytes, no zero
    std::memcpy(p + 20, "XXXX", 4);              // unused bytes after it stay out
    std::memcpy(p + 24, "12345", 5);
    put_le32(p + 60, 7);
    const auto info = DecodeHardwareInfo(p, sizeof p);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->serialNumber, -1);
    EXPECT_EQ(info->partNumber, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(info->compatibility, "12345");
    EXPECT_EQ(info->versionNumber, 7);

    std::memset(p + 4, 0, 16);
    std::memcpy(p + 4, "PN3", 3);
    EXPECT_EQ(DecodeHardwareInfo(p, sizeof p)->partNumber, "PN3");
    EXPECT_FALSE(DecodeHardwareInfo(p, 63));
}

}  // namespace
