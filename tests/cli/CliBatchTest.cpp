// Many receivers at once: lctrovi detect --all and lctrovi load with several devices, against
// several simulated receivers, each on a pseudo-terminal of its own.
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>

#include "CliFixture.h"
#include "SrecText.h"
#include "loader/Loadsequence.h"
#include "loader/X1f.h"

namespace {

constexpr uint32_t kLowest = 0x00020000;

using Receivers = std::vector<std::unique_ptr<SimReceiver>>;

// A receiver that programs quickly and waits for the power cycle the tool asks for.
SimOptions Healthy() {
    SimOptions options;
    options.timing.programMs = 300;
    options.timing.workingIntervalMs = 100;
    options.timing.powerCycleAfterMs = 0;
    options.timing.timeScale = 0.1;  // the blocks go fast; the sequence's own pauses stay
    return options;
}

SimOptions With(void (*fault)(SimOptions&)) {
    SimOptions options = Healthy();
    fault(options);
    return options;
}

using Fields = std::map<std::string, std::string>;

// The rows of the JSON table, by device.
std::map<std::string, Fields> JsonRows(const std::string& out) {
    std::map<std::string, std::map<std::string, std::string>> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == ',') {
            line.pop_back();
        }
        auto fields = ParseFlatJson(line);
        if (!fields.empty()) {
            rows[fields["device"]] = fields;
        }
    }
    return rows;
}

// The rows of the table as printed for people ("DEVICE  BEFORE  AFTER  TIME  RESULT"), by
// device, in the JSON table's terms.
std::map<std::string, Fields> PlainRows(const std::string& out) {
    std::map<std::string, Fields> rows;
    const size_t header = out.find("DEVICE ");
    std::istringstream in(header == std::string::npos ? "" : out.substr(header));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Fields fields;
        std::string seconds;
        std::string unit;
        words >> fields["device"] >> fields["before"] >> fields["after"] >> seconds >> unit;
        std::string result;
        std::getline(words >> std::ws, result);
        if (unit != "s") {
            continue;  // the count below the table
        }
        const std::string failed = "FAILED: ";
        const std::string cancelled = "CANCELLED";
        const bool wasCancelled = result.rfind(cancelled, 0) == 0;
        fields["result"] = result == "OK" ? "ok" : wasCancelled ? "cancelled" : "failed";
        fields["reason"] = result.rfind(failed, 0) == 0 ? result.substr(failed.size())
                           : wasCancelled && result.size() > cancelled.size()
                               ? result.substr(cancelled.size() + 2)
                               : "";
        rows[fields["device"]] = fields;
    }
    return rows;
}

class CliBatch : public CliTest {
  protected:
    void StartReceivers(const std::vector<SimOptions>& options) {
        receivers.clear();
        for (const SimOptions& option : options) {
            receivers.push_back(std::make_unique<SimReceiver>(option));
            ASSERT_TRUE(receivers.back()->Start()) << receivers.back()->LastError();
        }
    }
    void TearDown() override {
        for (auto& receiver : receivers) {
            receiver->Stop();
        }
        CliTest::TearDown();
    }
    std::vector<std::string> DeviceArgs() const {
        std::vector<std::string> args;
        for (const auto& receiver : receivers) {
            args.insert(args.end(), {"--device", receiver->DevicePath()});
        }
        return args;
    }
    // Runs lctrovi with the arguments; cycles each receiver's power when its line asks, and
    // calls `watch` with the output so far.
    ChildResult Run(const std::vector<std::string>& args,
                    const std::function<void(const std::string&, int)>& watch = {}) {
        std::vector<bool> cycled(receivers.size(), false);
        int pid = 0;
        return Lctrovi(
            args, "",
            [&](const std::string& out) {
                for (size_t i = 0; i < receivers.size(); ++i) {
                    if (!cycled[i] &&
                        out.find(receivers[i]->DevicePath() + ": Cycle Power") != std::string::npos) {
                        cycled[i] = true;
                        receivers[i]->PowerCycle();
                    }
                }
                if (watch) {
                    watch(out, pid);
                }
            },
            false, &pid);
    }

    Receivers receivers;
};

TEST_F(CliBatch, DetectAllListsEveryDeviceSearchedTogetherWithItsReceiverOrNone) {
    SimOptions slow = Healthy();
    slow.settings.baudRate = 4800;
    slow.hardware.serialNumber = 7001;
    SimOptions fast = Healthy();
    fast.settings.baudRate = 38400;
    fast.hardware.serialNumber = 7002;
    fast.version.minor = 7;
    SimOptions silent = Healthy();
    silent.faults.silent = true;
    StartReceivers({slow, fast, silent});
    const std::string missing = "/dev/lct-no-such-device";
    const std::string given = receivers[0]->DevicePath() + "," + missing;
    const ChildResult result = Lctrovi({"detect", "--all", "--json", "--device", given, "--device",
                                        receivers[1]->DevicePath(), "--device", receivers[2]->DevicePath()});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto rows = JsonRows(result.out);
    ASSERT_EQ(rows.size(), 4u) << result.out;
    EXPECT_EQ(rows.at(receivers[0]->DevicePath()), (Fields{{"device", receivers[0]->DevicePath()},
                                                           {"baud", "4800"},
                                                           {"version", "1.0SIM"},
                                                           {"serial", "7001"},
                                                           {"found", "true"}}));
    const auto& second = rows.at(receivers[1]->DevicePath());
    EXPECT_EQ(second.at("baud"), "38400");
    EXPECT_EQ(second.at("serial"), "7002");
    EXPECT_EQ(second.at("version"), "1.7SIM");
    for (const std::string& none : {missing, receivers[2]->DevicePath()}) {
        EXPECT_EQ(rows.at(none), (Fields{{"device", none},
                                         {"baud", "null"},
                                         {"version", "null"},
                                         {"serial", "null"},
                                         {"found", "false"}}));
    }
    EXPECT_NE(result.err.find("Error opening device " + missing), std::string::npos) << result.err;
    EXPECT_EQ(Lctrovi({"detect", "--all", "--device", missing}).status, 1);

    // The table names each device; on a terminal the search's progress is shown in place before
    // it and cleared, and elsewhere nothing comes before it.
    for (const bool terminal : {false, true}) {
        const ChildResult shown = Lctrovi(
            {"detect", "--all", "--baud", "38400", "--device", receivers[1]->DevicePath() + "," + missing},
            "", {}, terminal);
        EXPECT_EQ(shown.status, 0) << shown.err;
        const size_t table = shown.out.find("DEVICE ");
        ASSERT_NE(table, std::string::npos) << shown.out;
        const std::string progress = shown.out.substr(0, table);
        EXPECT_EQ(progress.find("\r\x1b[2KSearching 2 ports: 0 found, 1 no receiver, 1 searching (") !=
                      std::string::npos,
                  terminal)
            << progress;
        EXPECT_EQ(progress, terminal ? progress.substr(0, table - 5) + "\r\x1b[2K" : "");
        EXPECT_TRUE(std::regex_search(shown.out, std::regex(missing + " +no receiver\r?\n"))) << shown.out;
    }
}

// A batch: what every receiver is, what the tool must report for each, and how it ends.
TEST_F(CliBatch, EachReceiverEndsAsItsOwnLoadWouldAndTheTableSaysWhich) {
    struct Expect {
        const char* result;  // "ok", "failed" or "cancelled"
        const char* reason;  // part of the reason given
    };
    struct Row {
        const char* legend;
        std::vector<SimOptions> receivers;
        std::vector<Expect> expected;
        // A SIGINT once every receiver's line has shown each of these, in turn.
        std::vector<std::string> signalAt;
        int status;
        bool brokenFile = false;
        bool json = false;  // the receivers then cycle their power by themselves
    };
    const SimOptions cyclesItself =
        With([](SimOptions& o) { o.timing.powerCycleAfterMs = 100'000; });  // 10 s
    const SimOptions programsLong = With([](SimOptions& o) {
        o.timing.programMs = 600'000;  // a minute
        o.timing.workingIntervalMs = 20'000;
    });
    const Row rows[] = {
        {"all succeed",
         {cyclesItself, cyclesItself, cyclesItself},
         {{"ok", ""}, {"ok", ""}, {"ok", ""}},
         {},
         0,
         false,
         true},
        {"one of each fault among healthy ones",
         {Healthy(), With([](SimOptions& o) { o.faults.x1fReplyCode[x1f::kCrcRam] = x1f::kFail; }),
          With([](SimOptions& o) { o.faults.noReplyX1f = {X1F_LOAD}; }),
          With([](SimOptions& o) { o.faults.vanishAfterLoads = 4; }),
          With([](SimOptions& o) { o.faults.x1fReplyCode[x1f::kSetup] = X1F_BADCMD; }), Healthy()},
         {{"ok", ""},
          {"failed", "CRC check failed."},
          {"failed", "Timeout while sending program data."},
          {"failed", "Serial port lost"},
          {"failed", "Unrecognized cmd."},
          {"ok", ""}},
         {},
         1},
        {"cancel amid the blocks",
         {Healthy(), Healthy(), Healthy()},
         {{"cancelled", loadtext::kInBootloader},
          {"cancelled", loadtext::kInBootloader},
          {"cancelled", loadtext::kInBootloader}},
         {"Blocks sent: 100 of"},
         130},
        {"Ctrl-C twice while programming: the first only warns",
         {programsLong, programsLong},
         {{"cancelled", loadtext::kStoppedWhileProgramming},
          {"cancelled", loadtext::kStoppedWhileProgramming}},
         {loadtext::kStartProgramming, loadtext::kProgrammingCannotStop},
         130},
        {"a broken file touches no receiver", {Healthy(), Healthy()}, {}, {}, 1, true},
    };
    const std::vector<uint8_t> data = RandomBytes(3000, 5);
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");
    const std::string large = ScratchFile("large.hex");
    std::ofstream(large, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(1000 * 256, 9)}}, "\r\n");
    const std::string broken = ScratchFile("broken.hex");
    std::ofstream(broken, std::ios::binary)
        << MakeSrecImage({{kLowest, data}}, "\r\n") << "S3 not a record\r\n";

    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        StartReceivers(row.receivers);
        const bool largeImage = !row.signalAt.empty() && row.signalAt.front().rfind("Blocks", 0) == 0;
        std::vector<std::string> args = {"load", row.brokenFile ? broken : (largeImage ? large : image)};
        if (row.json) {
            args.emplace_back("--json");
        }
        const std::vector<std::string> devices = DeviceArgs();
        args.insert(args.end(), devices.begin(), devices.end());
        size_t signals = 0;
        const ChildResult result = Run(args, [&](const std::string& out, int pid) {
            if (signals == row.signalAt.size()) {
                return;
            }
            size_t there = 0;
            for (const auto& receiver : receivers) {
                there += out.find(receiver->DevicePath() + ": " + row.signalAt[signals]) != std::string::npos;
            }
            if (there == receivers.size()) {
                ++signals;
                kill(pid, SIGINT);
            }
        });
        EXPECT_EQ(signals, row.signalAt.size());
        EXPECT_EQ(result.status, row.status) << result.out << result.err;
        const auto table = row.json ? JsonRows(result.out) : PlainRows(result.out);
        ASSERT_EQ(table.size(), row.expected.size()) << result.out << result.err;
        for (size_t i = 0; i < row.expected.size(); ++i) {
            const SimReceiver& receiver = *receivers[i];
            const auto& fields = table.at(receiver.DevicePath());
            const Expect& expect = row.expected[i];
            EXPECT_EQ(fields.at("result"), expect.result) << i;
            EXPECT_NE(fields.at("reason").find(expect.reason), std::string::npos) << i << fields.at("reason");
            EXPECT_EQ(fields.at("before"), "1.0SIM") << i;
            const bool ok = std::string(expect.result) == "ok";
            EXPECT_EQ(fields.at("after"), ok ? "1.1SIM" : "-") << i;
            const SimImage programmed = receiver.ProgrammedImage();
            EXPECT_EQ(programmed.size(), ok ? 1u : 0u) << i;
            if (ok && !programmed.empty()) {
                EXPECT_EQ(programmed.begin()->second, data) << i;
            }
            if (ok) {  // put back as a single load puts it back
                EXPECT_EQ(receiver.LineBaud(), 19200u) << i;
                EXPECT_EQ(receiver.Settings().nmeaMask, SimSettings{}.nmeaMask) << i;
            }
        }
        if (row.brokenFile) {
            EXPECT_NE(result.err.find("Error in input file."), std::string::npos) << result.err;
            for (const auto& receiver : receivers) {
                for (const SimRecordEntry& entry : receiver->Record()) {
                    EXPECT_NE(entry.direction, SimDirection::kReceived);
                }
            }
        }
    }
}

// On a terminal the board is redrawn in place: each row is cut to the terminal's width (its own,
// else COLUMNS), since a row that wraps would leave its first part behind at the next redraw.
TEST_F(CliBatch, TheBoardOnATerminalKeepsEveryRowWithinItsWidth) {
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, RandomBytes(500, 3)}}, "\r\n");
    struct Case {
        const char* legend;
        int terminalColumns;
        const char* columnsVariable;  // nullptr: not set
        size_t width;
    };
    const Case cases[] = {
        {"the terminal's own width", 80, "200", 80},
        {"COLUMNS where the terminal tells none", 0, "60", 60},
        {"80 where nothing tells", 0, nullptr, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::vector<std::string> args = {"load", image};
        for (const char* receiver : {"1", "2"}) {  // devices that cannot be opened: rows at once
            args.insert(args.end(), {"--device", ScratchFile(std::string(70, 'r') + receiver)});
        }
        if (c.columnsVariable != nullptr) {
            setenv("COLUMNS", c.columnsVariable, 1);
        } else {
            unsetenv("COLUMNS");
        }
        const ChildResult result =
            RunChild(LCTROVI_PATH, args, "", kTimeoutMs, {}, true, nullptr, c.terminalColumns);
        unsetenv("COLUMNS");
        EXPECT_EQ(result.status, 1) << result.out;
        size_t rows = 0;
        for (size_t at = result.out.find("\x1b[2K"); at != std::string::npos;
             at = result.out.find("\x1b[2K", at)) {
            at += 4;
            const std::string row = result.out.substr(at, result.out.find_first_of("\r\n", at) - at);
            EXPECT_EQ(row.size(), c.width - 1) << row;  // every device name is longer than that
            ++rows;
        }
        EXPECT_GE(rows, 2u) << result.out;
    }
}

}  // namespace
