// lctrovi record and replay, and lctrovi-sim's replay, against the simulated receiver: what
// is recorded replays as the same display lines and the same NMEA log as the live run.
#include <signal.h>

#include <fstream>
#include <sstream>

#include "CliFixture.h"
#include "record/Recording.h"
#include "sim/Simreplay.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(CliTest, ARecordingReplaysAsTheLiveRunShowedAndLoggedIt) {
    struct Case {
        const char* legend;
        uint32_t nmeaMask;
    };
    for (const Case& c : {Case{"six sentences at 5 Hz", 0x3F}, Case{"binary messages", 0}}) {
        SimOptions options;
        options.settings.nmeaMask = c.nmeaMask;
        options.settings.nmeaRate = 5;
        options.timing.statusIntervalMs = 200;
        StartSim(options);
        const std::string recording = ScratchFile("session.rec");
        const std::string liveLog = ScratchFile("live.txt");
        const ChildResult live =
            Lctrovi(AtSim({"record", "--out", recording, "--seconds", "3", "--log", liveLog}));
        sim->Stop();
        ASSERT_EQ(live.status, 0) << c.legend << live.err;
        EXPECT_GE(Lines(live.out).size(), 10u) << c.legend;
        EXPECT_NE(live.err.find("Recorded "), std::string::npos) << live.err;

        // Replayed by the tool: the same lines with the same stamps, the same log.
        for (const std::string speed : {"max", "10"}) {
            const std::string replayLog = ScratchFile("replay-" + speed + ".txt");
            const ChildResult replay = Lctrovi({"replay", recording, "--speed", speed, "--log", replayLog});
            EXPECT_EQ(replay.status, 0) << c.legend << replay.err;
            EXPECT_EQ(replay.out, live.out) << c.legend << " at " << speed;
            EXPECT_EQ(ReadFile(replayLog), ReadFile(liveLog)) << c.legend << " at " << speed;
        }

        // Played by the simulator onto a pty and monitored there: the same sentences and messages.
        SimReplay replay(recording, 19200);
        ASSERT_TRUE(replay.Start()) << replay.LastError();
        const std::string monitoredLog = ScratchFile("monitored.txt");
        const ChildResult monitored =
            Lctrovi({"monitor", "--device", replay.DevicePath(), "--seconds", "4", "--log", monitoredLog});
        EXPECT_TRUE(replay.Finished()) << c.legend;
        replay.Stop();
        EXPECT_EQ(ReadFile(monitoredLog), ReadFile(liveLog)) << c.legend;
        EXPECT_EQ(Lines(monitored.out).size(), Lines(live.out).size()) << c.legend;
    }
}

TEST_F(CliTest, AKilledRecorderLeavesAFileThatReplaysUpToItsLastSecond) {
    SimOptions options;
    options.settings.nmeaMask = 0x3F;
    options.settings.nmeaRate = 5;
    StartSim(options);
    const std::string recording = ScratchFile("killed.rec");
    int pid = 0;
    const ChildResult live = Lctrovi(
        AtSim({"record", "--out", recording}), "",
        [&](const std::string& out) {
            if (Lines(out).size() >= 75 && pid > 0) {  // two and a half seconds of sentences
                ::kill(pid, SIGKILL);
                pid = 0;
            }
        },
        false, &pid);
    EXPECT_EQ(live.status, -1);
    const ChildResult replay = Lctrovi({"replay", recording, "--speed", "max"});
    const std::vector<std::string> replayed = Lines(replay.out);
    const std::vector<std::string> shown = Lines(live.out);
    EXPECT_GE(replayed.size(), 30u) << replay.err;
    ASSERT_LE(replayed.size(), shown.size());
    EXPECT_TRUE(std::equal(replayed.begin(), replayed.end(), shown.begin()));
}

TEST_F(CliTest, ARecordingThatCannotBeWrittenIsReportedOnce) {
    StartSim();
    const ChildResult result = Lctrovi(AtSim({"record", "--out", "/dev/full", "--seconds", "2"}));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "Error writing recording file /dev/full: No space left on device. Recording has stopped.\n");
}

TEST_F(CliTest, ReplayPlaysWhatIsSoundAndSaysWhereAFileStops) {
    std::vector<uint8_t> sound;
    AppendRecordingHeader(sound, {19200, 0, "sim"});
    const std::string sentence = "$GPGGA,1*00\r\n";
    const auto bytes = reinterpret_cast<const uint8_t*>(sentence.data());
    AppendRecordingChunk(sound, 0, bytes, sentence.size());
    const size_t second = sound.size();
    AppendRecordingChunk(sound, 100'000, bytes, sentence.size());
    std::string damaged(sound.begin(), sound.end());
    damaged[second + 12] ^= 0x20;
    const std::string whole(sound.begin(), sound.end());
    const std::string newer = whole.substr(0, 8) + '\x07' + whole.substr(9);

    struct Case {
        const char* legend;
        std::string file;
        std::vector<std::string> options;
        int status;
        size_t lines;
        std::string complaint;
    };
    const Case cases[] = {
        {"whole", whole, {}, 0, 2, ""},
        {"cut short",
         whole.substr(0, whole.size() - 3),
         {},
         1,
         1,
         "the file ends inside a chunk at byte " + std::to_string(second)},
        {"damaged", damaged, {}, 1, 1, "damaged chunk at byte " + std::to_string(second)},
        {"newer version", newer, {}, 1, 0, "a recording of version 7"},
        {"plain bytes without a rate", sentence + sentence, {}, 1, 0, "not a recording"},
        {"plain bytes at a rate", sentence + sentence, {"--baud", "115200"}, 0, 2, ""},
    };
    for (const Case& c : cases) {
        const std::string path = ScratchFile("file.rec");
        WriteFile(path, c.file);
        std::vector<std::string> args = {"replay", path, "--speed", "max"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ChildResult result = Lctrovi(args);
        EXPECT_EQ(result.status, c.status) << c.legend << result.err;
        EXPECT_EQ(Lines(result.out).size(), c.lines) << c.legend;
        EXPECT_NE(result.err.find(c.complaint), std::string::npos) << c.legend << ": " << result.err;
    }
}
}  // namespace
