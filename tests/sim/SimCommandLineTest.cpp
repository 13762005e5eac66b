// The command line of lctrovi-sim: every option reaches its field; bad values are refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "sim/Simcommandline.h"

namespace {

TEST(SimCommandLine, OptionsReachTheirFields) {
    const SimCommandLine c = ParseSimCommandLine({"--baud",
                                                  "38400",
                                                  "--nmea-mask",
                                                  "0x21",
                                                  "--nmea-rate",
                                                  "5",
                                                  "--height",
                                                  "150",
                                                  "--version",
                                                  "2.5ABC",
                                                  "--new-version",
                                                  "3.0",
                                                  "--serial",
                                                  "-1",
                                                  "--part",
                                                  "PART",
                                                  "--cal-time",
                                                  "300",
                                                  "--time-scale",
                                                  "0.5",
                                                  "--noise",
                                                  "1e-4",
                                                  "--no-reply",
                                                  "218",
                                                  "--no-reply",
                                                  "16",
                                                  "--x1f-reply",
                                                  "2=101",
                                                  "--reject-255",
                                                  "--no-line-ends",
                                                  "--muted-until-load",
                                                  "--vanish-after-loads",
                                                  "3",
                                                  "--rate-switch-delay",
                                                  "150",
                                                  "--no-crc",
                                                  "--moving",
                                                  "--device",
                                                  "/dev/ttyUSB1",
                                                  "--link",
                                                  "/tmp/x",
                                                  "--power-cycle-after",
                                                  "0"});
    ASSERT_EQ(c.error, "");
    const SimOptions& o = c.options;
    EXPECT_EQ(o.settings.baudRate, 38400u);
    EXPECT_EQ(o.settings.nmeaMask, 0x21u);
    EXPECT_EQ(o.settings.nmeaRate, 5);
    EXPECT_EQ(o.settings.lcHeight, 150);
    EXPECT_EQ(o.version, (SimVersion{2, 5, "ABC"}));
    ASSERT_TRUE(o.newVersion);
    EXPECT_EQ(*o.newVersion, (SimVersion{3, 0, ""}));
    EXPECT_EQ(o.hardware.serialNumber, -1);
    EXPECT_EQ(o.hardware.partNumber, "PART");
    EXPECT_EQ(o.timing.calibrationMs, 300);
    EXPECT_EQ(o.timing.timeScale, 0.5);
    EXPECT_EQ(o.timing.powerCycleAfterMs, 0);
    EXPECT_EQ(o.faults.bitErrorRate, 1e-4);
    EXPECT_EQ(o.faults.noReplyTo, (std::set<uint8_t>{16, 218}));
    EXPECT_EQ(o.faults.x1fReplyCode.at(2), 101);
    EXPECT_TRUE(o.faults.reject255);
    EXPECT_TRUE(o.faults.noLineEnds);
    EXPECT_TRUE(o.faults.mutedUntilLoad);
    EXPECT_EQ(o.faults.vanishAfterLoads, 3);
    EXPECT_EQ(o.faults.rateSwitchDelayMs, 150);
    EXPECT_FALSE(o.crcSupported);
    EXPECT_TRUE(o.vehicleMoving);
    EXPECT_EQ(o.devicePath, "/dev/ttyUSB1");
    EXPECT_EQ(c.linkPath, "/tmp/x");
}

TEST(SimCommandLine, BadInputIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> rows = {
        {"--baud", "12345"},
        {"--baud"},
        {"--nmea-rate", "2"},
        {"--height", "0"},
        {"--height", "201"},
        {"--nmea-mask", "0x40"},
        {"--version", "2"},
        {"--version", "2.5ABCD"},
        {"--x1f-reply", "2"},
        {"--x1f-reply", "2=300"},
        {"--no-reply", "256"},
        {"--noise", "-1"},
        {"--part", "SEVENTEEN-CHARS-X"},
        {"--frobnicate"},
        {"--time-scale", "fast"},
        {"--rate-switch-delay", "-1"},
    };
    for (const auto& args : rows) {
        EXPECT_NE(ParseSimCommandLine(args).error, "") << args[0];
    }
}

TEST(SimCommandLine, HelpListsEveryOption) {
    const std::string help = SimHelpText();
    for (const char* option : {"--device",
                               "--link",
                               "--record",
                               "--baud",
                               "--nmea-mask",
                               "--cal-time",
                               "--program-time",
                               "--working-interval",
                               "--power-cycle-after",
                               "--time-scale",
                               "--random-start",
                               "--noise",
                               "--drop",
                               "--no-reply",
                               "--x1f-reply",
                               "--reject-255",
                               "--silent",
                               "--other-talkers",
                               "--no-line-ends",
                               "--muted-until-load",
                               "--vanish-after-loads",
                               "--rate-switch-delay",
                               "--no-crc"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

// --link makes the link to the device while the program runs, also when it replays a file.
TEST(SimProgram, LinksTheDeviceWithAndWithoutReplay) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("lct-sim-link-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string capture = (folder / "capture.txt").string();
    std::ofstream(capture, std::ios::binary) << "$GPGGA,1*00\r\n";
    const std::string link = (folder / "receiver").string();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--link", link}, {"--replay", capture, "--link", link}}) {
        std::string linked;
        int pid = 0;
        const ChildResult result = RunChild(
            LCTROVI_SIM_PATH, args, "", 10'000,
            [&](const std::string& out) {
                if (out.find('\n') != std::string::npos && pid > 0) {
                    std::error_code error;
                    linked = fs::read_symlink(link, error).string();
                    ::kill(pid, SIGTERM);
                    pid = 0;
                }
            },
            false, &pid);
        EXPECT_EQ(result.status, 0) << args[0] << result.err;
        EXPECT_EQ(linked + "\n", result.out) << args[0];
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << args[0] << ": the link outlives the program";
    }
    fs::remove_all(folder);
}

}  // namespace
