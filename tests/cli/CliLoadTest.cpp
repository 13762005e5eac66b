// lctrovi load: a whole software load against the simulated receiver, its failures, and the
// image check that needs no receiver.
#include <csignal>
#include <filesystem>
#include <fstream>

#include "CliFixture.h"
#include "SrecText.h"
#include "loader/X1f.h"

namespace {

constexpr uint32_t kLowest = 0x00020000;

SimOptions QuickLoad() {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;  // cycled when the tool says so
    return options;
}

class CliLoad : public CliTest {
  protected:
    // Runs lctrovi load on the image and cycles the simulator's power when the tool asks.
    ChildResult LoadCyclingPower(const std::string& image) {
        return Lctrovi(AtSim({"load", image}), "", [&](const std::string& out) {
            if (!powerCycled && out.find("Cycle Power on the Receiver Now!") != std::string::npos) {
                powerCycled = true;
                sim->PowerCycle();
            }
        });
    }
    bool powerCycled = false;
};

TEST_F(CliLoad, LoadProgramsTheImageAndSucceedsOnlyWithTheNewVersion) {
    StartSim(QuickLoad());
    const std::vector<uint8_t> data = RandomBytes(3000, 5);
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");

    const ChildResult result = LoadCyclingPower(image);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(powerCycled);
    const SimImage programmed = sim->ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->first, kLowest);
    EXPECT_EQ(programmed.begin()->second, data);
    // The window's texts as lines, progress as plain lines (the output is no terminal).
    for (const char* text :
         {"Receiver version: 1.0SIM\n", "Established Communication with BootLoader.\n", "Sending File...\n",
          "Blocks sent: 12 of 12\n", "CRC check passed.\n", "Programming Done.  Cycle Power on Receiver.\n",
          "Communication Re-established. Ver # Rcvd.\n", "Receiver version: 1.1SIM\n"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << result.out;
    }
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
    // Restored afterwards: the normal rate and the NMEA selection of before.
    EXPECT_EQ(sim->LineBaud(), 19200u);
    EXPECT_EQ(sim->Settings().nmeaMask, SimSettings{}.nmeaMask);
}

// Software that does not answer the version request is what most needs a new image: the
// version is only shown, the load goes on, and the NMEA selection put back is then none.
TEST_F(CliLoad, LoadGoesOnWhenTheRunningSoftwareDoesNotAnswer) {
    SimOptions options = QuickLoad();
    options.faults.mutedUntilLoad = true;
    StartSim(options);
    const std::vector<uint8_t> data = RandomBytes(600, 3);
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");

    const ChildResult result = LoadCyclingPower(image);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("Receiver version: Not Known\n"), 0u) << result.out;
    EXPECT_NE(result.out.find("Receiver version: 1.1SIM\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
    const SimImage programmed = sim->ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->second, data);
    EXPECT_EQ(sim->Settings().nmeaMask, 0u);
}

// Ctrl-C or SIGTERM cancels through the sequence ("Cancelled", port and settings put back) at
// its next wait, in the middle of the blocks as in the probes' minute-long countdown, and ends
// with status 130; nothing is programmed.
TEST_F(CliTest, ASignalCancelsTheLoad) {
    const std::string image = ScratchFile("large.hex");
    constexpr size_t kBlocks = 1200;  // more than one tick of the sequence sends
    std::ofstream(image, std::ios::binary)
        << MakeSrecImage({{kLowest, RandomBytes(kBlocks * 256, 9)}}, "\r\n");
    struct Row {
        const char* legend;
        int signal;
        const char* sendAt;  // the output line after which the signal comes
        bool probesAnswered;
    };
    const Row rows[] = {
        {"SIGINT amid the blocks", SIGINT, "Blocks sent: 120 of 1200", true},
        {"SIGTERM amid the blocks", SIGTERM, "Blocks sent: 120 of 1200", true},
        {"SIGINT in the probe countdown", SIGINT, "Establishing Communication... 59", false},
    };
    for (const Row& row : rows) {
        SimOptions options;
        options.timing.timeScale = 0.02;  // the blocks go fast; the sequence's own pauses stay
        if (!row.probesAnswered) {
            options.faults.noReplyX1f = {X1F_PING};
        }
        StartSim(options);
        int pid = 0;
        bool sent = false;
        const ChildResult result = Lctrovi(
            AtSim({"load", image}), "",
            [&](const std::string& out) {
                if (!sent && out.find(row.sendAt) != std::string::npos) {
                    sent = true;
                    kill(pid, row.signal);
                }
            },
            false, &pid);
        EXPECT_TRUE(sent) << row.legend;
        EXPECT_EQ(result.status, 130) << row.legend << "\n" << result.out << result.err;
        const std::string ending = "Cancelled\nDownload cancelled.\n";
        EXPECT_TRUE(result.out.size() >= ending.size() &&
                    result.out.compare(result.out.size() - ending.size(), ending.size(), ending) == 0)
            << row.legend << "\n"
            << result.out;
        EXPECT_EQ(sim->RamImage().empty(), !row.probesAnswered) << row.legend;
        EXPECT_TRUE(sim->ProgrammedImage().empty()) << row.legend;
        sim->Stop();
    }
}

TEST_F(CliTest, LoadOnATerminalDrawsAProgressBarAndFailsWhenTheReceiverRefusesTheImage) {
    SimOptions options;
    options.faults.x1fReplyCode[x1f::kCrcRam] = x1f::kFail;  // the image in RAM is not what was sent
    StartSim(options);
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(600, 7)}}, "\r\n");
    const ChildResult result = Lctrovi(AtSim({"load", image}), "", {}, true);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("Download Failed."), std::string::npos) << result.out;
    EXPECT_TRUE(sim->ProgrammedImage().empty());
    // The bar is redrawn in place; no plain progress lines.
    EXPECT_NE(result.out.find("\r[" + std::string(40, '#') + "] 3/3"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Blocks sent"), std::string::npos);
}

TEST_F(CliTest, LoadWhoseDeviceVanishesAtARateSwitchSaysWhyAndWhatIsInTheReceiver) {
    const struct {
        const char* vanishAt;  // the device goes once the tool has shown this
        const char* end;
    } rows[] = {
        {"Established Communication with BootLoader.\n", "Download Failed.\n"},
        {"Programming Done.  Cycle Power on Receiver.\n",
         "The new software was programmed and checked; the line was lost before its version came back. "
         "Reconnect and check the version.\n"},
    };
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(200, 3)}}, "\r\n");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.vanishAt);
        SimOptions options;
        options.timing.programMs = 300;
        options.timing.powerCycleAfterMs = 0;
        StartSim(options);
        // The tool is given a link of this test's own, gone with the device: the number of a
        // vanished pseudo-terminal is soon given to another test's receiver, which the tool's
        // reopens by that path would reach (and, at the end, give this receiver's settings).
        const std::string link = ScratchFile("receiver");
        std::filesystem::remove(link);
        std::filesystem::create_symlink(sim->DevicePath(), link);
        bool vanished = false;
        const ChildResult result =
            Lctrovi({"load", "--device", link, image}, "", [&](const std::string& out) {
                if (!vanished && out.find(row.vanishAt) != std::string::npos) {
                    vanished = true;
                    std::filesystem::remove(link);
                    sim->Vanish();
                }
            });
        EXPECT_EQ(result.status, 1);
        const std::string told =
            std::string(row.vanishAt) + "Serial port lost: No such file or directory\n" + row.end;
        EXPECT_NE(result.out.find(told), std::string::npos) << result.out;
        sim->Stop();
    }
}

TEST_F(CliTest, LoadOfABrokenImageStopsBeforeTheReceiverIsTouched) {
    StartSim();
    const std::string image = ScratchFile("broken.hex");
    std::ofstream(image, std::ios::binary)
        << MakeSrecImage({{kLowest, RandomBytes(600, 7)}}, "\r\n") << "S3 not a record\r\n";
    const ChildResult result = Lctrovi(AtSim({"load", image}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("Error in input file."), std::string::npos) << result.out;
    EXPECT_TRUE(sim->RamImage().empty());
}

TEST_F(CliTest, CheckReportsTheRangeAndBlocksOfASoundImage) {
    const struct {
        uint32_t lowest;
        const char* report;
    } rows[] = {
        {kLowest, "Address range: 0x00020000-0x00020BB7\nBlocks: 12\n"},
        {kLowest + 0x180, "Address range: 0x00020180-0x00020D37\nBlocks: 13\n"},  // a partial first block
    };
    for (const auto& row : rows) {
        const std::string image = ScratchFile("good" + std::to_string(row.lowest) + ".hex");
        std::ofstream(image, std::ios::binary) << MakeSrecImage({{row.lowest, RandomBytes(3000, 5)}}, "\n");
        const ChildResult result = Lctrovi({"load", "--check", image});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find(row.report), std::string::npos) << result.out;
    }
}

TEST_F(CliTest, CheckRefusesEveryFaultTheLoaderRefuses) {
    const std::string good = MakeSrecLine(3, kLowest, {1, 2, 3, 4});
    std::string badChecksum = MakeSrecLine(3, kLowest + 4, {5, 6});
    badChecksum[badChecksum.size() - 3] = badChecksum[badChecksum.size() - 3] == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string text;
        std::string complaint;
    };
    const Case cases[] = {
        {"bad checksum", good + badChecksum, "Invalid record at line 2."},
        {"not a record", good + "hello\r\n", "Invalid record at line 2."},
        {"line too long", good + "S3" + std::string(200, '0') + "\r\n", "Invalid record at line 2."},
        {"out of order", MakeSrecLine(3, kLowest + 0x100, {1, 2}) + good, "0x"},
        {"no data", MakeSrecLine(0, 0, {'h', 'i'}) + MakeSrecLine(7, 0, {}), "No S3 data records."},
        {"empty file", "", "No S3 data records."},
    };
    for (const Case& c : cases) {
        const std::string image = ScratchFile(std::string(c.name) + ".hex");
        std::ofstream(image, std::ios::binary) << c.text;
        const ChildResult result = Lctrovi({"load", "--check", image});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_NE(result.err.find(c.complaint), std::string::npos) << c.name << ": " << result.err;
        EXPECT_NE(result.err.find("Error in input file."), std::string::npos) << c.name;
    }
    const ChildResult missing = Lctrovi({"load", "--check", ScratchFile("none.hex")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Error opening file"), std::string::npos);
}

}  // namespace
