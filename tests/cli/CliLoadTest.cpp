// lctrovi load: a whole software load against the simulated receiver, its failures, and the
// image check that needs no receiver.
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

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

// The bootloader command frames the receiver was sent of one code.
size_t CommandsReceived(const SimReceiver& sim, uint8_t code) {
    size_t count = 0;
    for (const SimRecordEntry& entry : sim.Record()) {
        count += entry.direction == SimDirection::kReceived && entry.kind == SimKind::kFrame &&
                 entry.bytes.size() > 6 && entry.bytes[3] == msgid::kBootloader && entry.bytes[6] == code;
    }
    return count;
}

// Ctrl-C or SIGTERM cancels through the sequence at its next wait, in the probes' minute-long
// countdown as amid the blocks, and ends with status 130; nothing is programmed. What it says
// after "Cancelled" is where the receiver is left: back as it was (before the bootloader
// answered), in its bootloader at the normal rate, ready for a new load, or still programming
// itself, which only a second Ctrl-C stops waiting for.
TEST_F(CliLoad, ASignalCancelsTheLoad) {
    const std::string large = ScratchFile("large.hex");
    constexpr size_t kBlocks = 1200;  // more than one tick of the sequence sends
    std::ofstream(large, std::ios::binary)
        << MakeSrecImage({{kLowest, RandomBytes(kBlocks * 256, 9)}}, "\r\n");
    const std::string small = ScratchFile("small.hex");
    std::ofstream(small, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(600, 4)}}, "\r\n");
    const std::string warning =
        "The receiver is programming itself and goes on whatever happens here: leave its power on. Press "
        "Ctrl-C again to stop waiting.\n";
    SimOptions fastBlocks;
    fastBlocks.timing.timeScale = 0.02;  // the blocks go fast; the sequence's own pauses stay
    SimOptions silentProbes = fastBlocks;
    silentProbes.faults.noReplyX1f = {X1F_PING};
    SimOptions longProgramming = QuickLoad();
    longProgramming.timing.programMs = 30'000;
    struct Row {
        const char* legend;
        SimOptions options;
        std::vector<std::string> sendAt;  // a signal after each of these outputs, in turn
        std::string ending;
        int signal;
        int status;
        uint32_t baudAfter;  // where a new load, or the receiver's own software, talks
        SimMode modeAfter;
        bool largeImage;
        bool warned;
    };
    const std::string inBootloader =
        "Cancelled\nThe receiver is waiting in its bootloader: cycle its power, or load again.\n"
        "Download cancelled.\n";
    const Row rows[] = {
        {"SIGINT in the probe countdown",
         silentProbes,
         {"Establishing Communication... 59"},
         "Cancelled\nDownload cancelled.\n",
         SIGINT,
         130,
         19200,
         SimMode::kRunning,
         true,
         false},
        {"SIGINT amid the blocks",
         fastBlocks,
         {"Blocks sent: 120 of 1200"},
         inBootloader,
         SIGINT,
         130,
         19200,
         SimMode::kBootloader,
         true,
         false},
        {"SIGTERM amid the blocks",
         fastBlocks,
         {"Blocks sent: 120 of 1200"},
         inBootloader,
         SIGTERM,
         130,
         19200,
         SimMode::kBootloader,
         true,
         false},
        {"SIGINT twice while programming",
         longProgramming,
         {"Sending START PROGRAMMING Command...\n", warning},
         "Cancelled\nStopped waiting. The receiver goes on programming itself: leave its power on for 5 "
         "minutes, then cycle its power.\nDownload cancelled.\n",
         SIGINT,
         130,
         57600,
         SimMode::kProgramming,
         false,
         true},
        {"SIGINT once while programming",
         QuickLoad(),
         {"Sending START PROGRAMMING Command...\n"},
         "Receiver version: 1.1SIM\n",
         SIGINT,
         0,
         19200,
         SimMode::kRunning,
         false,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        StartSim(row.options);
        int pid = 0;
        size_t sent = 0;
        const ChildResult result = Lctrovi(
            AtSim({"load", row.largeImage ? large : small}), "",
            [&](const std::string& out) {
                if (sent < row.sendAt.size() && out.find(row.sendAt[sent]) != std::string::npos) {
                    ++sent;
                    kill(pid, row.signal);
                }
                if (!powerCycled && out.find("Cycle Power on the Receiver Now!") != std::string::npos) {
                    powerCycled = true;
                    sim->PowerCycle();
                }
            },
            false, &pid);
        powerCycled = false;
        EXPECT_EQ(sent, row.sendAt.size());
        EXPECT_EQ(result.status, row.status) << result.out << result.err;
        EXPECT_TRUE(
            result.out.size() >= row.ending.size() &&
            result.out.compare(result.out.size() - row.ending.size(), row.ending.size(), row.ending) == 0)
            << result.out;
        EXPECT_EQ(result.out.find(warning) != std::string::npos, row.warned);
        EXPECT_EQ(sim->Mode(), row.modeAfter);
        EXPECT_EQ(sim->LineBaud(), row.baudAfter);
        EXPECT_EQ(sim->ProgrammedImage().empty(), row.status != 0);
        if (row.modeAfter == SimMode::kBootloader) {  // switched back once, without waiting for more
            EXPECT_EQ(CommandsReceived(*sim, X1F_SETBAUD), 2u);
        }
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

// A file the loader refuses is reported as load --check reports it before the receiver hears
// a byte, by a single load as by a batch: it must not leave the receiver in its bootloader.
TEST_F(CliTest, LoadOfABrokenImageStopsBeforeTheReceiverIsTouched) {
    const std::string good = MakeSrecImage({{kLowest, RandomBytes(600, 7)}}, "\r\n");
    const struct {
        const char* kind;
        std::string text;
        const char* complaint;
    } files[] = {
        {"notes", "Call the office about the antenna.\r\n", "Invalid record at line 1."},
        {"broken last line", good + "S3 not a record\r\n", "Invalid record at line "},
        {"out of order", MakeSrecLine(3, kLowest + 0x100, {1, 2}) + MakeSrecLine(3, kLowest, {3, 4}),
         "Input not sorted !  Record 2"},
        {"no data", MakeSrecLine(0, 0, {'h', 'i'}), "No S3 data records."},
    };
    for (const auto& file : files) {
        const std::string path = ScratchFile(std::string(file.kind) + ".txt");
        std::ofstream(path, std::ios::binary) << file.text;
        const ChildResult check = Lctrovi({"load", "--check", path});
        for (const char* how : {"single", "batch"}) {
            SCOPED_TRACE(std::string(file.kind) + ", " + how);
            StartSim();
            std::vector<std::string> args = AtSim({"load", path});
            if (std::string(how) == "batch") {
                args.emplace_back("--json");  // a batch of one
            }
            const ChildResult result = Lctrovi(args);
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.err.find(file.complaint), std::string::npos) << result.err;
            EXPECT_EQ(result.err, check.err);
            for (const SimRecordEntry& entry : sim->Record()) {
                EXPECT_NE(entry.direction, SimDirection::kReceived) << FormatRecordEntry(entry);
            }
            sim->Stop();
        }
    }
}

// A countdown takes one line, redrawn in place, on a terminal, and a line every ten seconds or
// so in a log, in a batch's lines too: the first of the probes' sixty, here.
TEST_F(CliTest, CountdownsAreRedrawnOnATerminalAndThinnedInALog) {
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(600, 7)}}, "\r\n");
    const struct {
        const char* legend;
        bool terminal;
        bool batch;
    } rows[] = {{"terminal", true, false}, {"log", false, false}, {"batch log", false, true}};
    constexpr size_t kProbes = 4;  // the countdown stands at 56 then, far less than ten seconds on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        SimOptions options;
        options.faults.noReplyX1f = {X1F_PING};
        StartSim(options);
        std::vector<std::string> args = AtSim({"load", image});
        if (row.batch) {
            args.emplace_back("--all");  // a batch of the one receiver found on the device
        }
        std::atomic<int> pid{0};
        std::atomic<bool> done{false};
        std::thread signaller([&] {
            while (!done && (pid == 0 || CommandsReceived(*sim, X1F_PING) < kProbes)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!done) {
                kill(pid, SIGINT);
            }
        });
        int childPid = 0;
        const ChildResult result = Lctrovi(
            args, "", [&](const std::string&) { pid = childPid; }, row.terminal, &childPid);
        done = true;
        signaller.join();
        EXPECT_EQ(result.status, 130);
        const std::string& shown = result.out;
        const std::string stem = "Establishing Communication... ";
        size_t lines = 0;
        for (size_t at = shown.find(stem); at != std::string::npos; at = shown.find(stem, at + 1)) {
            ++lines;
        }
        if (row.terminal) {
            EXPECT_NE(shown.find("\r" + stem + "58"), std::string::npos) << shown;
            EXPECT_NE(shown.find("\r" + stem + "57"), std::string::npos) << shown;
            EXPECT_EQ(shown.find(stem + "59\r\n"), std::string::npos) << shown;  // drawn over, not ended
        } else {
            EXPECT_EQ(lines, 1u) << shown;
        }
        sim->Stop();
    }
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
