// The bootloader driven by hand-built message-31 frames, as the programming sequence sends
// them: probe, rate switch, announce, blocks, checks, programming, power cycle.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "SimHarness.h"
#include "proto/Bytes.h"
#include "proto/Frame.h"

namespace {

constexpr uint32_t kLowest = 0x10010;  // lowest data address: the first block starts 16 bytes lower

struct Block {
    uint32_t address;
    Bytes data;
};

Bytes Pattern(size_t n, uint8_t start) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(start + i * 3);
    }
    return b;
}

// Three aligned blocks as the block reader makes them: the first padded with 0xFF below the
// lowest address, the last one short.
std::vector<Block> Image() {
    Bytes first = Pattern(256, 1);
    std::fill_n(first.begin(), 16, 0xFF);
    return {{0x10000, first}, {0x10100, Pattern(256, 2)}, {0x10200, Pattern(100, 3)}};
}

uint32_t Highest(const std::vector<Block>& blocks) {
    return blocks.back().address + static_cast<uint32_t>(blocks.back().data.size()) - 1;
}

Bytes RangeLength(uint32_t low, uint32_t high) {
    Bytes b(4);
    put_le32(b.data(), high - low + 1);
    return b;
}

class SimLoaderTest : public ::testing::Test {
  protected:
    void StartSim(SimOptions options) {
        options.settings.nmeaMask = config::kMaskGGA | config::kMaskRMC;
        sim_ = std::make_unique<SimReceiver>(std::move(options));
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(link_.Open(sim_->DevicePath(), sim_->LineBaud()));
    }
    void StartSim() { StartSim(FastOptions()); }

    // Sends one command; returns the code of its answer (X1F_WORKING skipped), -1 for none.
    int Command(uint8_t code, uint32_t value = 0, const Bytes& data = {}, uint32_t* replyValue = nullptr,
                int* working = nullptr) {
        link_.Send(X1fFrame(code, value, data));
        const auto reply = link_.AwaitX1fResult(3000, working);
        if (!reply) {
            return -1;
        }
        if (replyValue != nullptr) {
            *replyValue = X1fValue(*reply);
        }
        return X1fCode(*reply);
    }

    void LoadBlocks(const std::vector<Block>& blocks) {
        for (const Block& b : blocks) {
            ASSERT_EQ(Command(x1f::kLoad, b.address, b.data), x1f::kPass) << std::hex << b.address;
        }
    }

    std::unique_ptr<SimReceiver> sim_;
    SimLink link_;
};

TEST_F(SimLoaderTest, WholeSoftwareLoadThenPowerCycleBringsTheNewVersion) {
    SimOptions options = FastOptions();
    options.timing.programMs = 6000;  // 600 ms here, with X1F_WORKING every 200 ms
    options.timing.workingIntervalMs = 2000;
    options.timing.powerCycleAfterMs = 0;  // waits for the power cycle
    options.newVersion = SimVersion{2, 0, "NEW"};
    StartSim(options);

    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    EXPECT_EQ(sim_->Mode(), SimMode::kBootloader);
    ASSERT_EQ(Command(x1f::kSetBaud, x1f::kLoadBaudRate), x1f::kPass) << "answered at the old rate";
    ASSERT_TRUE(link_.SetBaud(x1f::kLoadBaudRate));
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass) << "and talks at the new one";
    EXPECT_EQ(sim_->LineBaud(), x1f::kLoadBaudRate);

    const std::vector<Block> blocks = Image();
    ASSERT_EQ(Command(x1f::kSetup, kLowest), x1f::kPass);
    LoadBlocks(blocks);
    uint32_t value = 99;
    ASSERT_EQ(Command(x1f::kCrcRam, 0, {}, &value), x1f::kPass);
    EXPECT_EQ(value, 0u);

    int working = 0;
    ASSERT_EQ(Command(x1f::kProgram, 0, {}, nullptr, &working), x1f::kPass);
    EXPECT_GE(working, 1);
    EXPECT_EQ(sim_->Mode(), SimMode::kProgrammed);
    value = 99;
    ASSERT_EQ(Command(x1f::kCrcAny, kLowest, RangeLength(kLowest, Highest(blocks)), &value), x1f::kPass);
    EXPECT_EQ(value, 0u);

    // The image held is the blocks, byte for byte, in one run.
    const SimImage image = sim_->ProgrammedImage();
    ASSERT_EQ(image.size(), 1u);
    Bytes expected;
    for (const Block& b : blocks) {
        expected.insert(expected.end(), b.data.begin(), b.data.end());
    }
    EXPECT_EQ(image.begin()->first, 0x10000u);
    EXPECT_EQ(image.begin()->second, expected);
    const std::string path = ::testing::TempDir() + "sim_image.bin";
    ASSERT_TRUE(sim_->WriteImage(path));
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), expected);
    std::remove(path.c_str());

    // No power cycle yet: nothing answers at 19200.
    ASSERT_TRUE(link_.SetBaud(19200));
    link_.Send(RequestFrame(msgid::kConfig));
    EXPECT_FALSE(link_.AwaitFrameId(msgid::kConfig, 300));
    sim_->PowerCycle();
    std::optional<Bytes> reply;
    for (int attempt = 0; attempt < 20 && !reply; ++attempt) {
        link_.Send(RequestFrame(msgid::kConfig));
        reply = link_.AwaitFrameId(msgid::kConfig, 100);
    }
    ASSERT_TRUE(reply);
    EXPECT_EQ(Payload(*reply)[config::kVersionMajor], 2);
    EXPECT_EQ(Payload(*reply)[config::kVersionMinor], 0);
    EXPECT_EQ(Payload(*reply)[config::kVersionSuffix], 'N');
    EXPECT_EQ(sim_->Mode(), SimMode::kRunning);
    EXPECT_EQ(sim_->LineBaud(), 19200u);
}

TEST_F(SimLoaderTest, AutomaticPowerCycleAfterProgrammingAndPlainPowerCycleKeepsVersion) {
    SimOptions options = FastOptions();
    options.timing.programMs = 1000;
    options.timing.powerCycleAfterMs = 2000;
    StartSim(options);
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    ASSERT_EQ(Command(x1f::kSetup, 0x100), x1f::kPass);
    ASSERT_EQ(Command(x1f::kLoad, 0x100, Pattern(256, 9)), x1f::kPass);
    ASSERT_EQ(Command(x1f::kProgram), x1f::kPass);
    std::optional<Bytes> reply;
    for (int attempt = 0; attempt < 30 && !reply; ++attempt) {
        link_.Send(RequestFrame(msgid::kConfig));
        reply = link_.AwaitFrameId(msgid::kConfig, 100);
    }
    ASSERT_TRUE(reply) << "back by itself, at 19200";
    EXPECT_EQ(Payload(*reply)[config::kVersionMinor], 1) << "minor + 1 by default";

    // A power cycle without a new load keeps the version and the rate set.
    sim_->PowerCycle();
    reply.reset();
    for (int attempt = 0; attempt < 30 && !reply; ++attempt) {
        link_.Send(RequestFrame(msgid::kConfig));
        reply = link_.AwaitFrameId(msgid::kConfig, 100);
    }
    ASSERT_TRUE(reply);
    EXPECT_EQ(Payload(*reply)[config::kVersionMinor], 1);
}

// The verdict of X1F_CRCRAM on what was loaded: 0 only for a whole, ordered image.
TEST_F(SimLoaderTest, CrcVerdictsOnTheLoadedImage) {
    const std::vector<Block> good = Image();
    struct Row {
        const char* legend;
        bool setup;
        bool allowGaps;
        CrcVerdict verdict;
        std::vector<Block> blocks;
    };
    const Row rows[] = {
        {"whole image", true, false, CrcVerdict::kGood, good},
        {"no announcement", false, false, CrcVerdict::kNoSetup, {}},
        {"nothing loaded", true, false, CrcVerdict::kNoBlocks, {}},
        {"middle block missing", true, false, CrcVerdict::kNotContiguous, {good[0], good[2]}},
        {"middle block missing, holes allowed", true, true, CrcVerdict::kGood, {good[0], good[2]}},
        {"blocks out of order", true, false, CrcVerdict::kNotContiguous, {good[0], good[2], good[1]}},
        {"block sent twice", true, true, CrcVerdict::kNotContiguous, {good[0], good[1], good[1], good[2]}},
        {"first block missing", true, false, CrcVerdict::kNotContiguous, {good[1], good[2]}},
        {"refused block", true, false, CrcVerdict::kRefusedBlock, {good[0], {0x10100, Bytes()}, good[2]}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        SimOptions options = FastOptions();
        options.crcAllowsGaps = row.allowGaps;
        StartSim(options);
        ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
        if (row.setup) {
            ASSERT_EQ(Command(x1f::kSetup, kLowest), x1f::kPass);
        }
        for (const Block& b : row.blocks) {
            Command(x1f::kLoad, b.address, b.data);
        }
        uint32_t value = 99;
        ASSERT_EQ(Command(x1f::kCrcRam, 0, {}, &value), x1f::kPass);
        EXPECT_EQ(value, static_cast<uint32_t>(row.verdict));
        sim_->Stop();
    }
}

TEST_F(SimLoaderTest, CrcAnyJudgesTheProgrammedRange) {
    SimOptions options = FastOptions();
    options.timing.programMs = 100;
    options.timing.powerCycleAfterMs = 0;
    StartSim(options);
    const std::vector<Block> blocks = Image();
    const Bytes range = RangeLength(kLowest, Highest(blocks));
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    ASSERT_EQ(Command(x1f::kSetup, kLowest), x1f::kPass);
    LoadBlocks(blocks);
    uint32_t value = 0;
    ASSERT_EQ(Command(x1f::kCrcAny, kLowest, range, &value), x1f::kPass);
    EXPECT_EQ(value, static_cast<uint32_t>(CrcVerdict::kNotProgrammed));
    ASSERT_EQ(Command(x1f::kProgram), x1f::kPass);
    struct Row {
        const char* legend;
        uint32_t address;
        Bytes data;
        int code;
        CrcVerdict verdict;
    };
    const Row rows[] = {
        {"the programmed range", kLowest, range, x1f::kPass, CrcVerdict::kGood},
        {"range one byte short", kLowest, RangeLength(kLowest, Highest(blocks) - 1), x1f::kPass,
         CrcVerdict::kRangeMismatch},
        {"range from the block start", 0x10000, RangeLength(0x10000, Highest(blocks)), x1f::kPass,
         CrcVerdict::kRangeMismatch},
        {"no length given", kLowest, {}, x1f::kBadLength, CrcVerdict::kGood},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        value = 99;
        ASSERT_EQ(Command(x1f::kCrcAny, row.address, row.data, &value), row.code);
        if (row.code == x1f::kPass) {
            EXPECT_EQ(value, static_cast<uint32_t>(row.verdict));
        }
    }
}

TEST_F(SimLoaderTest, TargetWithoutCrcSupportAnswersBadCommandToBothChecks) {
    SimOptions options = FastOptions();
    options.crcSupported = false;
    StartSim(options);
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    ASSERT_EQ(Command(x1f::kSetup, kLowest), x1f::kPass);
    LoadBlocks(Image());
    EXPECT_EQ(Command(x1f::kCrcRam), x1f::kBadCmd);
    EXPECT_EQ(Command(x1f::kCrcAny, kLowest, RangeLength(kLowest, kLowest + 10)), x1f::kBadCmd);
}

TEST_F(SimLoaderTest, CommandsTheBootloaderCannotTakeAreAnsweredWithTheirError) {
    StartSim();
    EXPECT_EQ(Command(x1f::kSetup, kLowest), x1f::kBadCmd) << "the running software knows only the probe";
    EXPECT_EQ(sim_->Mode(), SimMode::kRunning);
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    struct Row {
        const char* legend;
        uint8_t code;
        uint32_t value;
        Bytes data;
        int reply;
    };
    const Row rows[] = {
        {"block before any announcement", x1f::kLoad, 0x10000, Pattern(16, 0), x1f::kBadAddress},
        {"programming with nothing loaded", x1f::kProgram, 0, {}, x1f::kNoProg},
        {"unknown rate", x1f::kSetBaud, 12345, {}, x1f::kFail},
        {"erase is not offered", x1f::kErase, 0, {}, x1f::kBadCmd},
        {"unknown code", 77, 0, {}, x1f::kBadCmd},
        {"announcement", x1f::kSetup, kLowest, {}, x1f::kPass},
        {"block below the announced start", x1f::kLoad, 0xFF00, Pattern(16, 0), x1f::kBadAddress},
        {"block beyond the largest image", x1f::kLoad, 0x10000 + SimBootloader::kMaxImageSpan, Pattern(16, 0),
         x1f::kBadAddress},
        {"empty block", x1f::kLoad, 0x10000, {}, x1f::kBadLength},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        EXPECT_EQ(Command(row.code, row.value, row.data), row.reply);
    }
    // A data length beyond the data area is refused without reading past the frame.
    Bytes frame = X1fFrame(x1f::kLoad, 0x10000, Pattern(16, 0));
    put_le16(&frame[frame::kPayloadOffset + x1f::kDataLength], 300);
    frame[frame.size() - 2] = xor_checksum(frame.data() + frame::kIdOffset,
                                           static_cast<uint16_t>(frame.size() - frame::kIdOffset - 2));
    link_.Send(frame);
    const auto reply = link_.AwaitX1fResult(3000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(X1fCode(*reply), x1f::kBadLength);
}

TEST_F(SimLoaderTest, BootloaderStopsSentencesAndIgnoresConfigurationRequests) {
    StartSim();
    link_.Collect(300);
    ASSERT_FALSE(link_.lines.empty()) << "the running software sends sentences";
    ASSERT_EQ(Command(x1f::kPing), x1f::kPass);
    link_.Collect(100);  // what was on its way
    link_.lines.clear();
    link_.frames.clear();
    link_.Send(RequestFrame(msgid::kConfig));
    link_.Collect(400);
    EXPECT_TRUE(link_.lines.empty());
    EXPECT_TRUE(link_.frames.empty());
}

}  // namespace
