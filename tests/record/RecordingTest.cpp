// The recording format read back whole, cut, damaged and foreign; the file's flush policy;
// the replay's pace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "record/Recording.h"
#include "record/Recordingfile.h"
#include "record/Replaypacer.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct Played {
    std::vector<uint64_t> times;
    std::string bytes;
    bool started = false;
    RecordingStop stop = RecordingStop::kNone;
    uint64_t stopOffset = 0;
};

Played ReadAll(const Bytes& file, uint32_t plainBaud = 0) {
    MemorySource source(file.data(), file.size());
    RecordingReader reader(source, plainBaud);
    Played played;
    played.started = reader.Start();
    for (RecordingChunk chunk; played.started && reader.Next(chunk);) {
        played.times.push_back(chunk.timeUs);
        played.bytes.append(reinterpret_cast<const char*>(chunk.data), chunk.size);
    }
    played.stop = reader.Stop();
    played.stopOffset = reader.StopOffset();
    return played;
}

void AddChunk(Bytes& file, uint64_t timeUs, const std::string& text) {
    AppendRecordingChunk(file, timeUs, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Recording, ReplaysWhatIsSoundAndSaysWhereItStopped) {
    Bytes header;
    AppendRecordingHeader(header, {19200, 1'700'000'000'000'000, "/dev/ttyUSB0"});
    Bytes sound = header;
    AddChunk(sound, 0, "$GPGGA,1*00\r\n");
    const size_t second = sound.size();
    AddChunk(sound, 200'000, "$GPRMC,2*00\r\n");
    const size_t third = sound.size();
    AddChunk(sound, 200'000, "\x81\x02");

    struct Case {
        const char* legend;
        Bytes file;
        uint32_t plainBaud;
        bool started;
        size_t chunks;
        RecordingStop stop;
        size_t stopOffset;
    };
    Bytes cut = sound;
    cut.resize(third + 5);
    Bytes damaged = sound;
    damaged[second + 12] ^= 0x01;
    Bytes backwards(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(third));
    AddChunk(backwards, 199'999, "late");
    Bytes empty = header;
    empty.insert(empty.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x00});
    Bytes newer = sound;
    newer[8] = 2;
    Bytes badHeader = sound;
    badHeader[20] ^= 0x40;
    const Bytes shortHeader(sound.begin(), sound.begin() + 20);
    const std::string text = "$GPGGA,1*00\r\nsome capture\r\n";
    const Bytes foreign(text.begin(), text.end());
    const Case cases[] = {
        {"whole", sound, 0, true, 3, RecordingStop::kEnd, 0},
        {"header only", header, 0, true, 0, RecordingStop::kEnd, 0},
        {"cut inside a chunk", cut, 0, true, 2, RecordingStop::kTruncated, third},
        {"flipped data bit", damaged, 0, true, 1, RecordingStop::kDamagedChunk, second},
        {"time backwards", backwards, 0, true, 2, RecordingStop::kTimeBackwards, third},
        {"chunk with no bytes", empty, 0, true, 0, RecordingStop::kDamagedChunk, header.size()},
        {"newer version", newer, 0, false, 0, RecordingStop::kNewerVersion, 0},
        {"damaged header", badHeader, 0, false, 0, RecordingStop::kDamagedHeader, 0},
        {"cut header", shortHeader, 0, false, 0, RecordingStop::kTruncated, 0},
        {"plain bytes refused", foreign, 0, false, 0, RecordingStop::kNotRecording, 0},
        {"plain bytes at 9600", foreign, 9600, true, 3, RecordingStop::kEnd, 0},
        {"nothing at all", {}, 0, false, 0, RecordingStop::kNotRecording, 0},
    };
    for (const Case& c : cases) {
        const Played played = ReadAll(c.file, c.plainBaud);
        EXPECT_EQ(played.started, c.started) << c.legend;
        EXPECT_EQ(played.times.size(), c.chunks) << c.legend;
        EXPECT_EQ(played.stop, c.stop) << c.legend;
        EXPECT_EQ(played.stopOffset, c.stopOffset) << c.legend;
    }

    const Played whole = ReadAll(sound);
    EXPECT_EQ(whole.bytes, "$GPGGA,1*00\r\n$GPRMC,2*00\r\n\x81\x02");
    EXPECT_EQ(whole.times, (std::vector<uint64_t>{0, 200'000, 200'000}));
    // A plain capture at 9600 baud: 9 bytes a chunk, stamped with the end of its last byte.
    const Played plain = ReadAll(foreign, 9600);
    EXPECT_EQ(plain.bytes, text);
    EXPECT_EQ(plain.times.front(), 9u * 10 * 1'000'000 / 9600);
    EXPECT_EQ(plain.times.back(), text.size() * 10 * 1'000'000 / 9600);
}

TEST(Recording, HeaderAndLongReadsSurviveTheRoundTrip) {
    Bytes file;
    const RecordingHeader header{115200, -5, std::string(300, 'd')};
    AppendRecordingHeader(file, header);
    const std::string big(recording::kMaxChunkData + 10, 'x');
    AddChunk(file, 7, big);
    MemorySource source(file.data(), file.size());
    RecordingReader reader(source);
    ASSERT_TRUE(reader.Start());
    EXPECT_EQ(reader.Header().baud, 115200u);
    EXPECT_EQ(reader.Header().startUnixUs, -5);
    EXPECT_EQ(reader.Header().device, std::string(recording::kMaxDeviceName, 'd'));
    std::vector<size_t> sizes;
    for (RecordingChunk chunk; reader.Next(chunk);) {
        EXPECT_EQ(chunk.timeUs, 7u);
        sizes.push_back(chunk.size);
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{recording::kMaxChunkData, 10}));
    EXPECT_EQ(reader.Stop(), RecordingStop::kEnd);
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    // Every length and alignment, whole and continued, against the bit-by-bit definition.
    Bytes pattern(80);
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    for (size_t start = 0; start < 8; ++start) {
        for (size_t size = 0; start + size <= pattern.size(); ++size) {
            uint32_t bitwise = ~0u;
            for (size_t i = start; i < start + size; ++i) {
                bitwise ^= pattern[i];
                for (int k = 0; k < 8; ++k) {
                    bitwise = (bitwise & 1u) != 0 ? 0xEDB88320u ^ (bitwise >> 1) : bitwise >> 1;
                }
            }
            const uint8_t* at = pattern.data() + start;
            ASSERT_EQ(Crc32(at, size), ~bitwise) << start << " " << size;
            ASSERT_EQ(Crc32(at + size / 3, size - size / 3, Crc32(at, size / 3)), ~bitwise)
                << start << " " << size;
        }
    }
}

TEST(Recording, AFileBeingWrittenHoldsEverythingOlderThanASecond) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("lct-rec-" + std::to_string(getpid()))).string();
    RecordingFile file;
    ASSERT_TRUE(file.Open(path, {4800, 0, "sim"}, 1'000'000));
    const auto readBack = [&] {
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        return ReadAll(bytes);
    };
    const uint8_t data[] = {'a', 'b', 'c'};
    ASSERT_TRUE(file.Add(1'100'000, data, 3));
    ASSERT_TRUE(file.Add(1'900'000, data, 2));
    EXPECT_EQ(readBack().bytes, "") << "held for less than a second";
    ASSERT_TRUE(file.Poll(2'000'000));
    EXPECT_EQ(readBack().bytes, "abcab");
    EXPECT_EQ(readBack().times, (std::vector<uint64_t>{100'000, 900'000}));
    ASSERT_TRUE(file.Add(2'500'000, data, 1));
    // Killed now: what was flushed reads back whole, and the reader says where the file ends.
    EXPECT_EQ(readBack().stop, RecordingStop::kEnd);
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(readBack().bytes, "abcaba");
    EXPECT_EQ(file.DataBytes(), 6u);
    const RecordingSummary summary = SummarizeRecording(path, 0);
    EXPECT_TRUE(summary.readable);
    EXPECT_EQ(summary.durationUs, 1'500'000u);
    EXPECT_EQ(summary.problem, "");
    std::filesystem::remove(path);
    EXPECT_FALSE(file.Open("/nonexistent-dir/x.rec", {}, 0));
    EXPECT_NE(file.Error().find("Error opening recording file"), std::string::npos);
}

TEST(ReplayPacer, FollowsThePaceItIsGivenAndStandsStillWhenPaused) {
    ReplayPacer pacer;
    pacer.Start(1'000, 1.0);
    EXPECT_EQ(pacer.WaitUs(500'000, 1'000), 500'000);
    EXPECT_TRUE(pacer.Due(500'000, 501'000));
    pacer.SetSpeed(501'000, 10.0);
    EXPECT_EQ(pacer.PositionUs(511'000), 600'000u);
    pacer.Pause(511'000);
    EXPECT_EQ(pacer.WaitUs(600'001, 9'000'000), -1);
    EXPECT_EQ(pacer.PositionUs(9'000'000), 600'000u);
    pacer.Resume(9'000'000);
    EXPECT_EQ(pacer.WaitUs(700'000, 9'000'000), 10'000);
    pacer.SetSpeed(9'000'000, ReplayPacer::kAsFastAsPossible);
    EXPECT_TRUE(pacer.Due(50'000'000, 9'000'000));
    pacer.Played(50'000'000);
    pacer.SetSpeed(9'000'000, 1.0);
    EXPECT_EQ(pacer.PositionUs(9'000'000), 50'000'000u) << "goes on from where the fast replay stood";
    EXPECT_EQ(RecordingTimeText(12'345'678), "00:12");
    EXPECT_EQ(RecordingTimeText(3'725'000'000), "1:02:05");
}
}  // namespace
