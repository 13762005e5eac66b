// The Windows builds under Wine: the Windows test program of the serial link, and lctrovi.exe
// as a Windows user runs it, against simulated receivers on COM ports.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>

#include "../cli/FlatJson.h"
#include "SrecText.h"
#include "WineRig.h"
#include "geo/Positionstats.h"
#include "support/Ggarecording.h"
#include "support/PtyPair.h"
#include "support/Ser2net.h"

namespace {

const std::string kPort = "COM5";

// The far ends the Windows test program expects (see WinLinkTest.cpp).
TEST_F(WineTest, WindowsLinkTestsPass) {
    MappedSim talking("COM5", SimOptions{});
    SimOptions silent;
    silent.faults.silent = true;
    MappedSim quiet("COM6", silent);
    PtyPair deaf;  // nobody reads its far end
    const MappedPort deafPort("COM7", deaf.SlavePath());
    std::error_code ignored;
    std::filesystem::remove(PortLink("COM8"), ignored);  // listed, but no device behind it

    const ChildResult result = RunWindowsProgram("tests/wine/lct_link_win_tests.exe", {}, "", {}, 280'000);
    // Relayed with the inner skip marks renamed: ctest would take them for this test's own.
    const std::string relayed = std::regex_replace(result.out + result.err, std::regex(R"(\[  SKIPPED \])"),
                                                   "[ skipped under Wine ]");
    std::cout << relayed;
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(relayed.find("[  PASSED  ] 13 tests."), std::string::npos);
    // Only the two cases that Wine cannot show are skipped.
    EXPECT_NE(relayed.find("[ skipped under Wine ] 2 tests"), std::string::npos);
}

TEST_F(WineTest, VersionAndPortsListTheMappedComPort) {
    const ChildResult version = Lctrovi({"--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "lctrovi 1.01\n");

    const ChildResult ports = Lctrovi({"ports"});
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_TRUE(std::regex_search(ports.out, std::regex("(^|\n)COM5\n"))) << ports.out;
    const ChildResult help = Lctrovi({"ports", "--help"});
    EXPECT_NE(help.out.find("SERIALCOMM"), std::string::npos) << help.out;
    EXPECT_EQ(Lctrovi({"ports", "--sysfs", "/sys/class/tty"}).status, 2);  // no sysfs on Windows
}

TEST_F(WineTest, DetectFindsTheReceiverAtItsRate) {
    SimOptions options;
    options.settings.baudRate = 9600;
    MappedSim receiver(kPort, options);
    const ChildResult found = Lctrovi({"detect", "--device", kPort});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, "COM5 9600\n");
    EXPECT_EQ(found.err, "Attempting COM5 at 4800\nAttempting COM5 at 9600\n");
}

TEST_F(WineTest, InfoAndConfigGetReadTheReceiver) {
    MappedSim receiver(kPort, SimOptions{});
    const ChildResult info = Lctrovi({"info", "--json", "--device", kPort});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(
        ParseFlatJson(info.out),
        (std::map<std::string, std::string>{
            {"serial", "5200417"}, {"part", "LT-2000-0100"}, {"version", "3"}, {"compatibility", "C0102"}}))
        << info.out;

    const ChildResult config = Lctrovi({"config", "get", "--device", kPort});
    ASSERT_EQ(config.status, 0) << config.err;
    for (const char* line : {"version=1.0SIM\n", "baud=19200\n", "nmea=GGA,RMC\n", "height=60\n"}) {
        EXPECT_NE(config.out.find(line), std::string::npos) << line << config.out;
    }
}

TEST_F(WineTest, MonitorShowsStampedSentencesForItsSeconds) {
    MappedSim receiver(kPort, SimOptions{});
    const ChildResult monitor = Lctrovi({"monitor", "--seconds", "3", "--device", kPort});
    EXPECT_EQ(monitor.status, 0) << monitor.err;
    const std::regex stamped(R"(\d\d:\d\d:\d\d: \$GP(GGA|RMC),[^\n]*\n)");
    const auto lines = std::distance(std::sregex_iterator(monitor.out.begin(), monitor.out.end(), stamped),
                                     std::sregex_iterator());
    EXPECT_GE(lines, 2) << monitor.out;  // GGA and RMC once a second
}

// The calibration prompt waits for a line of standard input while it reads the port.
TEST_F(WineTest, CalibrateTakesItsAnswersFromStandardInput) {
    SimOptions options;
    options.timing.calibrationMs = 300;
    MappedSim receiver(kPort, options);
    const ChildResult result = Lctrovi({"calibrate", "--device", kPort}, "\n\n");
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("TCM calibration complete."), std::string::npos) << result.out;
    EXPECT_EQ(receiver.Sim().Settings().tcmCalibrated, 1);
}

TEST_F(WineTest, LoadProgramsTheImageByteForByte) {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;  // cycled when the tool says so
    MappedSim receiver(kPort, options);
    const std::vector<uint8_t> data = RandomBytes(3000, 7);
    constexpr uint32_t kLowest = 0x00020000;
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-wine-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");

    bool powerCycled = false;
    const ChildResult result = Lctrovi({"load", "--device", kPort, image}, "", [&](const std::string& out) {
        if (!powerCycled && out.find("Cycle Power on the Receiver Now!") != std::string::npos) {
            powerCycled = true;
            receiver.Sim().PowerCycle();
        }
    });
    std::filesystem::remove(image);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(powerCycled);
    const SimImage programmed = receiver.Sim().ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->first, kLowest);
    EXPECT_TRUE(programmed.begin()->second == data) << "the programmed image differs from the file";
    EXPECT_NE(result.out.find("Receiver version: 1.1SIM\n"), std::string::npos) << result.out;
    EXPECT_EQ(receiver.Sim().LineBaud(), 19200u);
}

// The same load with the receiver behind Debian's ser2net: the Winsock line and RFC 2217.
TEST_F(WineTest, LoadThroughSer2netProgramsTheImageByteForByte) {
    if (Ser2net::Program().empty()) {
        GTEST_SKIP() << "ser2net is not installed";
    }
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    Ser2net server;
    ASSERT_TRUE(server.Start(sim.DevicePath())) << server.LastError();
    const std::vector<uint8_t> data = RandomBytes(3000, 8);
    constexpr uint32_t kLowest = 0x00020000;
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-wine-net-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");

    bool powerCycled = false;
    const ChildResult result =
        Lctrovi({"load", "--device", server.Address(), image}, "", [&](const std::string& out) {
            if (!powerCycled && out.find("Cycle Power on the Receiver Now!") != std::string::npos) {
                powerCycled = true;
                sim.PowerCycle();
            }
        });
    std::filesystem::remove(image);
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const SimImage programmed = sim.ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_TRUE(programmed.begin()->second == data) << "the programmed image differs from the file";
    EXPECT_EQ(sim.LineBaud(), 19200u);
    server.Kill();
    sim.Stop();
}

// Four receivers on COM5 to COM8: detect --all finds each at its rate, and a batch load
// programs the healthy ones and says which one failed and why.
TEST_F(WineTest, BatchDetectAndLoadOnFourComPorts) {
    const std::vector<std::string> ports = {"COM5", "COM6", "COM7", "COM8"};
    std::vector<std::unique_ptr<MappedSim>> receivers;
    for (size_t i = 0; i < ports.size(); ++i) {
        SimOptions options;
        options.timing.programMs = 300;
        options.timing.workingIntervalMs = 100;
        options.timing.powerCycleAfterMs = 0;  // cycled when the tool says so
        options.timing.timeScale = 0.1;
        options.hardware.serialNumber = 8000 + static_cast<int32_t>(i);
        if (i == 2) {
            options.faults.x1fReplyCode[x1f::kCrcRam] = x1f::kFail;
        }
        receivers.push_back(std::make_unique<MappedSim>(ports[i], options));
    }
    const ChildResult detect =
        Lctrovi({"detect", "--all", "--json", "--device", "COM5,COM6", "--device", "COM7,COM8"});
    ASSERT_EQ(detect.status, 0) << detect.out << detect.err;
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_NE(detect.out.find("{\"device\": \"" + ports[i] +
                                  "\", \"baud\": 19200, \"version\": \"1.0SIM\", "
                                  "\"serial\": " +
                                  std::to_string(8000 + i) + ", \"found\": true}"),
                  std::string::npos)
            << detect.out;
    }

    const std::vector<uint8_t> data = RandomBytes(3000, 7);
    constexpr uint32_t kLowest = 0x00020000;
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-wine-batch-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");
    std::vector<bool> cycled(ports.size(), false);
    const ChildResult result =
        Lctrovi({"load", "--device", "COM5,COM6,COM7,COM8", image}, "", [&](const std::string& out) {
            for (size_t i = 0; i < ports.size(); ++i) {
                if (!cycled[i] && out.find(ports[i] + ": Cycle Power") != std::string::npos) {
                    cycled[i] = true;
                    receivers[i]->Sim().PowerCycle();
                }
            }
        });
    std::filesystem::remove(image);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    for (size_t i = 0; i < ports.size(); ++i) {
        const bool healthy = i != 2;
        const std::regex row(ports[i] + " +1\\.0SIM +" + (healthy ? "1\\.1SIM" : "-") + " +[0-9.]+ s  " +
                             (healthy ? "OK" : "FAILED: Download Failed\\. \\(CRC check failed\\."));
        EXPECT_TRUE(std::regex_search(result.out, row)) << ports[i] << "\n" << result.out;
        const SimImage programmed = receivers[i]->Sim().ProgrammedImage();
        ASSERT_EQ(programmed.size(), healthy ? 1u : 0u) << ports[i];
        if (healthy) {
            EXPECT_TRUE(programmed.begin()->second == data) << ports[i];
        }
    }
    EXPECT_NE(result.out.find("3 of 4 receivers loaded.\n"), std::string::npos) << result.out;
}

// accuracy and export read a recording under Windows as under Linux: the figures printed are
// those worked out here, and the track replaces a file that was there before.
TEST_F(WineTest, AccuracyAndExportReadARecording) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lct-wine-track-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string recording = (dir / "standing.rec").string();
    const std::vector<std::string> lines = testsupport::StandingReceiverLines(60);
    testsupport::WriteLineRecording(recording, lines);
    PositionStats expected;
    for (const std::string& line : lines) {
        expected.TakeLine(line);
    }
    const AccuracyFigures f = expected.Figures().value();

    const ChildResult accuracy = Lctrovi({"accuracy", "--json", recording});
    EXPECT_EQ(accuracy.status, 0) << accuracy.err;
    const auto printed = ParseFlatJson(accuracy.out);
    EXPECT_EQ(printed.count("fixes") ? printed.at("fixes") : "", "60") << accuracy.out;
    for (const auto& [key, value] :
         {std::pair{"cep50_m", f.cep50M}, std::pair{"cep95_m", f.cep95M}, std::pair{"sigma_up_m", f.sigmaUpM},
          std::pair{"mean_height_m", f.mean.heightM}}) {
        EXPECT_NEAR(std::stod(printed.count(key) ? printed.at(key) : "nan"), value, 1e-4)
            << key << " " << accuracy.out;
    }

    const std::string gpx = (dir / "track.gpx").string();
    std::ofstream(gpx) << "an older track";
    const ChildResult exported = Lctrovi({"export", recording, "--format", "gpx", "--out", gpx});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.err.find("Wrote 60 fixes to"), std::string::npos) << exported.err;
    std::ifstream in(gpx);
    const std::string track((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t points = 0;
    for (size_t at = track.find("<trkpt "); at != std::string::npos; at = track.find("<trkpt ", at + 1)) {
        ++points;
    }
    EXPECT_EQ(points, 60u) << track.substr(0, 400);
    EXPECT_FALSE(std::filesystem::exists(gpx + ".part"));
    std::filesystem::remove_all(dir);
}

}  // namespace
