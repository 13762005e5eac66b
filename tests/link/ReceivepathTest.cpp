// The one receive path over each kind of line: a serial device on a pseudo-terminal and a
// recording played back (whole, damaged, or a plain capture at any rate).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/Anyline.h"
#include "link/Receivepath.h"
#include "link/Replayline.h"
#include "record/Recording.h"
#include "support/FakeClock.h"
#include "support/PtyPair.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Heard {
    std::vector<std::string> lines;
    std::vector<int64_t> times;
    Bytes tapped;
};

// Pumps the line until it ends, fails or stays quiet for `quietReads` reads in a row.
Heard PumpAll(Line& line, ReceivePath& path, int quietReads = 3) {
    Heard heard;
    path.SetTap([&](const uint8_t* bytes, size_t n, int64_t) {
        heard.tapped.insert(heard.tapped.end(), bytes, bytes + n);
    });
    for (int quiet = 0; quiet < quietReads;) {
        const ReceivePath::Result result = path.Pump(
            line, 20, [](const DiagProto&) {},
            [&](const CRLFProto& crlf) {
                heard.lines.emplace_back(reinterpret_cast<const char*>(crlf.MessageData()),
                                         crlf.MessageLength() - 2);
                heard.times.push_back(path.TimeUs());
            });
        if (result == ReceivePath::Result::kEnded || result == ReceivePath::Result::kLost) {
            break;
        }
        quiet = result == ReceivePath::Result::kNothing ? quiet + 1 : 0;
    }
    return heard;
}

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A half sentence heard on one line never glues itself to the first sentence of the next:
// the framers start afresh when the line changes.
TEST(ReceivePath, StartsTheFramersAfreshOnEveryLineChange) {
    PtyPair first;
    PtyPair second;
    AnyLine line;
    ReceivePath path;
    ASSERT_TRUE(line.Open(first.SlavePath(), 19200));
    first.SendFromFarEnd(Text("$GPGGA,half"));
    ASSERT_TRUE(first.WaitForPendingInput(11, 1000));
    EXPECT_TRUE(PumpAll(line, path).lines.empty());
    line.Close();
    ASSERT_TRUE(line.Open(second.SlavePath(), 19200));
    second.SendFromFarEnd(Text("$GPRMC,whole\r\n"));
    ASSERT_TRUE(second.WaitForPendingInput(14, 1000));
    const Heard heard = PumpAll(line, path);
    EXPECT_EQ(heard.lines, std::vector<std::string>{"$GPRMC,whole"});
    EXPECT_EQ(heard.tapped, Text("$GPRMC,whole\r\n"));
    line.Close();
    EXPECT_EQ(path.Pump(
                  line, 0, [](const DiagProto&) {}, [](const CRLFProto&) {}),
              ReceivePath::Result::kLost);
}

// A replay gives its bytes stamped with the time they were recorded, says when it has played
// everything (or where a damaged file stopped), and plays a plain capture at any rate.
TEST(ReceivePath, AReplayKeepsItsTimesAndEndsWithWhatItPlayed) {
    const std::string sentence = "$GPGGA,1*00\r\n";
    Bytes recording;
    constexpr int64_t kStartUs = 1'600'000'000'000'000;
    AppendRecordingHeader(recording, {19200, kStartUs, "x"});
    AppendRecordingChunk(recording, 0, Text(sentence).data(), sentence.size());
    AppendRecordingChunk(recording, 2'000'000, Text(sentence).data(), sentence.size());
    Bytes plain;
    for (int i = 0; i < 5000; ++i) {
        plain.insert(plain.end(), sentence.begin(), sentence.end());
    }
    const struct {
        const char* legend;
        Bytes file;
        size_t cut;  // bytes dropped from the end
        uint32_t plainBaud;
        double speed;
        size_t lines;
        std::vector<int64_t> times;  // of the first lines, when they are known
        bool damaged;
    } rows[] = {
        {"at the recorded pace", recording, 0, 0, 1.0, 2, {kStartUs, kStartUs + 2'000'000}, false},
        {"as fast as possible", recording, 0, 0, 0.0, 2, {kStartUs, kStartUs + 2'000'000}, false},
        {"cut inside its last chunk", recording, 3, 0, 0.0, 1, {kStartUs}, true},
        {"a plain capture at 5,000,000 baud", plain, 0, 5'000'000, 1.0, 5000, {}, false},
        {"a plain capture at 300 baud", Text(sentence), 0, 300, 1.0, 1, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        Bytes file = row.file;
        file.resize(file.size() - row.cut);
        const std::string path = WriteFile("lct-receivepath-replay.bin", file);
        testsupport::FakeClock clock;
        ReplayLine line(clock);
        line.SetSpeed(row.speed);
        ASSERT_TRUE(line.Open(path, row.plainBaud)) << line.LastErrorText();
        ReceivePath receive;
        const Heard heard = PumpAll(line, receive, 1000);  // the fake clock makes waits instant
        EXPECT_TRUE(line.Ended());
        EXPECT_EQ(heard.lines.size(), row.lines);
        for (size_t i = 0; i < row.times.size() && i < heard.times.size(); ++i) {
            EXPECT_EQ(heard.times[i], row.times[i]);
        }
        EXPECT_EQ(!line.Problem().empty(), row.damaged) << line.Problem();
        EXPECT_FALSE(line.CanChangeRate());
        EXPECT_FALSE(line.Write(file.data(), 1));
        std::filesystem::remove(path);
    }
}

// What cannot be replayed says why, and a file that is no recording is told apart by its
// reason, not its text.
TEST(ReceivePath, AFileThatCannotBeReplayedSaysWhy) {
    testsupport::FakeClock clock;
    const std::string text = WriteFile("lct-receivepath-notes.txt", Text("notes\n"));
    const struct {
        std::string path;
        const char* says;
        RecordingStop stop;
    } rows[] = {
        {text, "not a recording", RecordingStop::kNotRecording},
        {text + ".missing", "No such file or directory", RecordingStop::kNone},
        {std::filesystem::temp_directory_path().string(), "is a folder", RecordingStop::kNone},
    };
    for (const auto& row : rows) {
        ReplayLine line(clock);
        EXPECT_FALSE(line.Open(row.path, 0)) << row.path;
        EXPECT_NE(line.LastErrorText().find(row.says), std::string::npos) << line.LastErrorText();
        EXPECT_EQ(line.OpenStop(), row.stop) << row.path;
    }
    std::filesystem::remove(text);
}

}  // namespace
