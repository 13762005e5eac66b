// lctrovi through Debian's ser2net: the simulated receiver on its pseudo-terminal, the server
// in front of it on a loopback port, and the tool given the server's address as its device.
#include <fstream>
#include <iterator>
#include <sstream>

#include "CliFixture.h"
#include "SrecText.h"
#include "link/Netaddress.h"
#include "support/Ser2net.h"

namespace {

constexpr uint32_t kLowest = 0x00020000;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliNet : public CliTest {
  protected:
    void SetUp() override {
        if (Ser2net::Program().empty()) {
            GTEST_SKIP() << "ser2net is not installed";
        }
    }
    // The simulator, and the server in front of it.
    void Serve(const SimOptions& options = {}, bool rfc2217 = true, bool ipv6 = false) {
        server = std::make_unique<Ser2net>();
        StartSim(options);
        ASSERT_TRUE(server->Start(sim->DevicePath(), rfc2217, ipv6)) << server->LastError();
    }
    void EndServed() {
        server.reset();
        sim->Stop();
    }
    std::vector<std::string> AtServer(std::vector<std::string> args) const {
        args.insert(args.begin() + 1, {"--device", server->Address()});
        return args;
    }
    std::string Image(size_t bytes, std::vector<uint8_t>* data = nullptr) {
        const std::vector<uint8_t> content = RandomBytes(bytes, 5);
        if (data != nullptr) {
            *data = content;
        }
        std::string image = ScratchFile("image.hex");
        std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, content}}, "\r\n");
        return image;
    }
    // "HOST:PORT" of the server's address.
    std::string HostPort() const { return server->Address().substr(server->Address().find("//") + 2); }

    std::unique_ptr<Ser2net> server;
};

TEST_F(CliNet, LoadThroughTheServerProgramsTheImageByteForByte) {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;
    Serve(options);
    std::vector<uint8_t> data;
    const std::string image = Image(3000, &data);
    bool cycled = false;
    const ChildResult result = Lctrovi(AtServer({"load", image}), "", [&](const std::string& out) {
        if (!cycled && out.find("Cycle Power on the Receiver Now!") != std::string::npos) {
            cycled = true;
            sim->PowerCycle();
        }
    });
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const SimImage programmed = sim->ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->first, kLowest);
    EXPECT_EQ(programmed.begin()->second, data);
    EXPECT_NE(result.out.find("Receiver version: 1.1SIM\n"), std::string::npos) << result.out;
    EXPECT_EQ(sim->LineBaud(), 19200u);  // both rate switches went through the server
}

TEST_F(CliNet, ServerKilledInTheMiddleOfALoadEndsItAsALostLineWithNothingProgrammed) {
    SimOptions options;
    options.timing.timeScale = 0.05;
    Serve(options);
    const std::string image = Image(200 * 256);
    bool killed = false;
    const ChildResult result = Lctrovi(AtServer({"load", image}), "", [&](const std::string& out) {
        if (!killed && out.find("Blocks sent: 20 of 200") != std::string::npos) {
            killed = true;
            server->Kill();
        }
    });
    EXPECT_TRUE(killed);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE((result.out + result.err).find("Serial port lost: connection closed by " + HostPort()),
              std::string::npos)
        << result.out << result.err;
    EXPECT_TRUE(sim->ProgrammedImage().empty());
}

TEST_F(CliNet, DetectFindsTheReceiverAtEachRateThroughTheServer) {
    for (const uint32_t rate : {4800u, 38400u}) {
        SimOptions options;
        options.settings.baudRate = rate;
        Serve(options);
        const ChildResult result = Lctrovi(AtServer({"detect"}));
        EXPECT_EQ(result.status, 0) << rate << ": " << result.err;
        EXPECT_EQ(result.out, server->Address() + " " + std::to_string(rate) + "\n");
        EndServed();
    }
}

// After a baud change through the server, the monitor's log is exactly a run of the
// sentences the receiver sent: not a byte lost, doubled or garbled on the way.
TEST_F(CliNet, ConfigSetBaudIsFollowedThroughTheServerAndTheMonitorIsExact) {
    SimOptions options;
    options.recordPath.clear();
    Serve(options);
    const ChildResult set = Lctrovi(AtServer({"config", "set", "baud=38400"}));
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("baud=38400\n"), std::string::npos) << set.out;
    EXPECT_EQ(sim->LineBaud(), 38400u);
    sim->ClearRecord();
    const std::string log = ScratchFile("nmea.txt");
    const ChildResult monitor =
        Lctrovi(AtServer({"monitor", "--baud", "38400", "--seconds", "3", "--log", log}));
    ASSERT_EQ(monitor.status, 0) << monitor.err;
    std::string sent;
    for (const SimRecordEntry& entry : sim->Record()) {
        if (entry.direction == SimDirection::kSent) {
            EXPECT_FALSE(entry.damaged) << FormatRecordEntry(entry);
            sent.append(entry.bytes.begin(), entry.bytes.end());
        }
    }
    const std::string logged = ReadWhole(log);
    EXPECT_GE(std::count(logged.begin(), logged.end(), '\n'), 2);
    EXPECT_NE(sent.find(logged), std::string::npos) << logged;
}

// A raw TCP line keeps its rate: what would change it is refused before the receiver hears
// of it (a batch load as the single load), what does not report a rate the line does not run
// at, and what needs no rate change works, over IPv4 and IPv6.
TEST_F(CliNet, AFixedRateLineRefusesRateChangesAndServesTheRest) {
    struct Row {
        std::vector<std::string> args;
        bool rfc2217;
        bool ipv6;
        int status;
        std::string err;  // "REFUSAL": the line's refusal, alone; otherwise a part of it
        std::string out;  // a part of it
        bool silent;      // the receiver heard nothing at all
    };
    const std::string ignored = "runs at the rate its server is set to; --baud 9600 is not applied.";
    const Row rows[] = {
        {{"load", "IMAGE"}, false, false, 1, "REFUSAL", "", true},
        {{"load", "--json", "IMAGE"},
         false,
         false,
         1,
         "",
         "\"result\": \"failed\", \"reason\": \"The line at",
         true},
        {{"config", "set", "baud=38400"}, false, false, 1, "REFUSAL", "", false},
        {{"detect"}, false, false, 1, "REFUSAL", "", true},
        {{"detect", "--baud", "9600"},
         false,
         false,
         0,
         "at the rate its server is set to",
         " the rate its server is set to\n",
         false},
        {{"monitor", "--baud", "9600", "--seconds", "1"}, false, false, 0, ignored, "$GPGGA", false},
        {{"info"}, false, false, 0, "", "serial=", false},
        {{"detect", "--baud", "19200"}, false, false, 0, "", " the rate its server is set to\n", false},
        {{"info"}, true, true, 0, "", "serial=", false},
    };
    const std::string image = Image(600);
    for (const Row& row : rows) {
        std::string legend;
        for (const std::string& arg : row.args) {
            legend += arg + " ";
        }
        SCOPED_TRACE(legend + (row.rfc2217 ? "rfc2217" : "tcp") + (row.ipv6 ? " ipv6" : ""));
        Serve({}, row.rfc2217, row.ipv6);
        std::vector<std::string> args = row.args;
        std::replace(args.begin(), args.end(), std::string("IMAGE"), image);
        const ChildResult result = Lctrovi(AtServer(args));
        EXPECT_EQ(result.status, row.status) << result.err;
        if (row.err == "REFUSAL") {
            EXPECT_EQ(result.err, FixedRateText(server->Address()) + "\n");
        } else {
            EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
        }
        EXPECT_NE((result.out + "\n").find(row.out), std::string::npos) << result.out;
        if (row.silent) {
            for (const SimRecordEntry& entry : sim->Record()) {
                EXPECT_NE(entry.direction, SimDirection::kReceived) << FormatRecordEntry(entry);
            }
        }
        EXPECT_EQ(sim->Settings().baudRate, 19200u);
        EXPECT_EQ(sim->LineBaud(), 19200u);
        EXPECT_TRUE(sim->RamImage().empty());
        EndServed();
    }
    // No device at all is a wrong command line, not an empty batch.
    const ChildResult none = Lctrovi({"load", "--json", "--device", ",", image});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "lctrovi: no device given\n");
}

}  // namespace
