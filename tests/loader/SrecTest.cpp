#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "SrecText.h"
#include "loader/Srec.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SrecDecode, ValidLines) {
    struct Row {
        const char* legend;
        std::string line;
        int type;
        int length;
        uint32_t address;
        Bytes data;
    };
    const Row rows[] = {
        {"S0 header, 2-byte address",
         "S00F000068656C6C6F202020202000003C\r\n",
         0,
         12,
         0x0000,
         {0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x00}},
        {"S1 data, 2-byte address", "S107123401020304A8\r\n", 1, 4, 0x1234, {1, 2, 3, 4}},
        {"S2 data, 3-byte address", MakeSrecLine(2, 0x123456, {0xAA, 0xBB}), 2, 2, 0x123456, {0xAA, 0xBB}},
        {"S3 data, 4-byte address",
         MakeSrecLine(3, 0x89ABCDEF, {0x00, 0xFF, 0x7E}),
         3,
         3,
         0x89ABCDEF,
         {0x00, 0xFF, 0x7E}},
        {"S5 count, no address", "S5030003F9\r\n", 5, 2, 0, {0x00, 0x03}},
        {"S7 end, 4-byte address", MakeSrecLine(7, 0x08000000, {}), 7, 0, 0x08000000, {}},
        {"S8 end, 3-byte address", MakeSrecLine(8, 0x012345, {}), 8, 0, 0x012345, {}},
        {"S9 end, 2-byte address", "S9030000FC\r\n", 9, 0, 0, {}},
        {"type above 9 has no address", MakeSrecLine(0xC, 0, {5, 6}), 12, 2, 0, {5, 6}},
        {"lower-case hex digits", "S107123401020304a8\r\n", 1, 4, 0x1234, {1, 2, 3, 4}},
        {"bare LF line end", "S107123401020304A8\n", 1, 4, 0x1234, {1, 2, 3, 4}},
        {"no line end", "S107123401020304A8", 1, 4, 0x1234, {1, 2, 3, 4}},
        {"CR without LF", "S107123401020304A8\r", 1, 4, 0x1234, {1, 2, 3, 4}},
        {"longest line: 55 data bytes", MakeSrecLine(3, 0x100, Bytes(55, 0x5A)), 3, 55, 0x100,
         Bytes(55, 0x5A)},
        {"data ending at the last address",
         MakeSrecLine(3, 0xFFFFFFFC, {1, 2, 3, 4}),
         3,
         4,
         0xFFFFFFFC,
         {1, 2, 3, 4}},
    };
    for (const auto& row : rows) {
        const SRecord r = srec_decode_line(row.line);
        ASSERT_EQ(r.type, row.type) << row.legend;
        if (r.type < 0) {
            continue;
        }
        EXPECT_EQ(r.length, row.length) << row.legend;
        EXPECT_EQ(r.address, row.address) << row.legend;
        EXPECT_EQ(Bytes(r.data, r.data + r.length), row.data) << row.legend;
        EXPECT_EQ(r.data[r.length], 0) << row.legend;
    }
}

TEST(SrecDecode, InvalidLines) {
    const std::string good = "S107123401020304A8";
    struct Row {
        const char* legend;
        std::string line;
    };
    const Row rows[] = {
        {"empty line", "\r\n"},
        {"lower-case s", "s107123401020304A8\r\n"},
        {"not starting with S", "X107123401020304A8\r\n"},
        {"checksum off by one", "S107123401020304A9\r\n"},
        {"one character too many", "S107123401020304A80\r\n"},
        {"one byte pair too few", "S1071234010203A8\r\n"},
        {"non-hex digit in the data", "S10712340102030GA8\r\n"},
        {"space before the line end", good + " \r\n"},
        {"CR in the middle", "S1071234\r01020304A8\r\n"},
        {"two line ends", good + "\r\n\r\n"},
        {"count too small for the address", "S3020000\r\n"},
        {"longer than a record can be (56 data bytes)", MakeSrecLine(3, 0x100, Bytes(56, 0x5A))},
        {"long line of hex digits", "S1" + std::string(300, '0') + "\r\n"},
        {"data past the last address", MakeSrecLine(3, 0xFFFFFFFE, {1, 2, 3})},
        {"only the S", "S\r\n"},
        {"type digit and count missing", "S1\r\n"},
    };
    for (const auto& row : rows) {
        const SRecord r = srec_decode_line(row.line);
        EXPECT_EQ(r.type, -1) << row.legend;
        EXPECT_EQ(r.length, 0) << row.legend;  // nothing filled in for an invalid line
    }
}

TEST(SrecDecode, EveryLineEndGivesTheSameRecords) {
    for (const char* end : {"\r\n", "\n"}) {
        for (bool lastLineEnd : {true, false}) {
            std::string text = MakeSrecImage({{0x2000, Bytes(40, 7)}, {0x2028, Bytes(3, 9)}}, end);
            if (!lastLineEnd) {
                text.erase(text.size() - std::string(end).size());
            }
            SrecTextLines lines(text);
            const SrecScan scan = srec_scan(lines);
            EXPECT_TRUE(scan.Ok()) << int(end[0]) << lastLineEnd;
            EXPECT_EQ(scan.lowest, 0x2000u);
            EXPECT_EQ(scan.highest, 0x202Au);
        }
    }
}

TEST(SrecLineSources, FileAndTextSourcesAgree) {
    const std::string text =
        "S107123401020304A8\r\n" + std::string(400, 'S') + "\n" + "S9030000FC\n" + "S107123401020304A8";
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    SrecFileLines fileLines(file);
    SrecTextLines textLines(text);
    for (int i = 0; i < 6; ++i) {
        SrecLineRead fromFile = SrecLineRead::kReadError;
        SrecLineRead fromText = SrecLineRead::kReadError;
        const SRecord a = srec_read_record(fileLines, &fromFile);
        const SRecord b = srec_read_record(textLines, &fromText);
        EXPECT_EQ(fromFile, fromText) << i;
        EXPECT_EQ(a.type, b.type) << i;
        EXPECT_EQ(a.address, b.address) << i;
    }
    std::rewind(file);
    EXPECT_EQ(srec_read_record(file).type, 1);
    EXPECT_EQ(srec_read_record(file).type, -1);  // the over-long line
    EXPECT_EQ(srec_read_record(file).type, 9);   // reading goes on after it
    std::fclose(file);
}

// Reads every block of a text, checking the return value contract on the way.
struct Block {
    uint32_t address;
    Bytes bytes;
};

std::vector<Block> AllBlocks(SrecBlockReader& reader, SrecLineSource& source) {
    std::vector<Block> blocks;
    uint8_t buffer[kSrecBlockSize];
    for (int calls = 0; calls < 100000; ++calls) {
        uint32_t address = 0;
        uint32_t length = 0;
        const bool more = reader.Next(source, buffer, &address, &length);
        EXPECT_LE(length, kSrecBlockSize);
        if (length > 0) {
            EXPECT_EQ(address % kSrecBlockSize, 0u);
            blocks.push_back({address, Bytes(buffer, buffer + length)});
        }
        if (!more) {
            break;
        }
    }
    return blocks;
}

std::vector<Block> AllBlocks(const std::string& text) {
    SrecBlockReader reader;
    SrecTextLines lines(text);
    return AllBlocks(reader, lines);
}

TEST(SrecBlocks, FirstRecordAboveTheFirstBlockGivesAnEmptyBlockFirst) {
    const std::string text = MakeSrecImage({{0x300, {1, 2}}}, "\r\n");
    SrecBlockReader reader;
    SrecTextLines lines(text);
    uint8_t buffer[kSrecBlockSize];
    uint32_t address = 99;
    uint32_t length = 99;
    EXPECT_TRUE(reader.Next(lines, buffer, &address, &length));
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(reader.Next(lines, buffer, &address, &length));
    EXPECT_EQ(address, 0x300u);
    EXPECT_EQ(length, 2u);
    EXPECT_FALSE(reader.EndedOnError());
    EXPECT_FALSE(reader.Next(lines, buffer, &address, &length));  // ended: nothing more
    EXPECT_EQ(length, 0u);
}

TEST(SrecBlocks, GapBytesAreErasedInEveryBlock) {
    // The first block is full of 0x11; the second has a gap where stale 0x11 must not show.
    const std::string text =
        MakeSrecImage({{0x000, Bytes(256, 0x11)}, {0x100, {0xA0}}, {0x110, {0xB0}}}, "\r\n");
    const auto blocks = AllBlocks(text);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].bytes, Bytes(256, 0x11));
    Bytes expected(0x11, 0xFF);
    expected[0] = 0xA0;
    expected[0x10] = 0xB0;
    EXPECT_EQ(blocks[1].address, 0x100u);
    EXPECT_EQ(blocks[1].bytes, expected);
}

TEST(SrecBlocks, RecordBelowPlacedDataIsDroppedWholeAndCounted) {
    const std::string text = MakeSrecImage({{0x10, Bytes(16, 1)}, {0x18, Bytes(16, 2)}, {0x40, {3}}}, "\r\n");
    SrecBlockReader reader;
    SrecTextLines lines(text);
    const auto blocks = AllBlocks(reader, lines);
    ASSERT_EQ(blocks.size(), 1u);
    Bytes expected(0x41, 0xFF);
    std::fill(expected.begin() + 0x10, expected.begin() + 0x20, 1);
    expected[0x40] = 3;
    EXPECT_EQ(blocks[0].bytes, expected);  // none of the second record, not even past 0x20
    EXPECT_EQ(reader.DroppedRecords(), 1u);
}

TEST(SrecBlocks, RecordAcrossABoundaryContinuesInTheNextBlock) {
    Bytes data(40);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    const std::string text = MakeSrecImage({{0x1F0, data}}, "\r\n");
    SrecBlockReader reader;
    SrecTextLines lines(text);
    uint8_t buffer[kSrecBlockSize];
    uint32_t address = 0;
    uint32_t length = 0;
    EXPECT_TRUE(reader.Next(lines, buffer, &address, &length));  // the empty block at 0
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(reader.Next(lines, buffer, &address, &length));
    EXPECT_EQ(address, 0x100u);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(Bytes(buffer + 0xF0, buffer + 0x100), Bytes(data.begin(), data.begin() + 16));
    EXPECT_FALSE(reader.Next(lines, buffer, &address, &length));
    EXPECT_EQ(address, 0x200u);
    EXPECT_EQ(length, 24u);
    EXPECT_EQ(Bytes(buffer, buffer + 24), Bytes(data.begin() + 16, data.end()));
}

TEST(SrecBlocks, OtherRecordTypesAreSkippedAndTheEndRecordDoesNotStop) {
    std::string text = "S00F000068656C6C6F202020202000003C\r\n" + MakeSrecLine(3, 0x10, {1}) +
                       "S5030003F9\r\n" + MakeSrecLine(7, 0, {}) + "S9030000FC\r\n" +
                       MakeSrecLine(3, 0x20, {2});
    const auto blocks = AllBlocks(text);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].bytes.size(), 0x21u);
    EXPECT_EQ(blocks[0].bytes[0x10], 1);
    EXPECT_EQ(blocks[0].bytes[0x20], 2);
}

TEST(SrecBlocks, InvalidLineEndsTheInputAfterTheBlocksBeforeIt) {
    const std::string text = MakeSrecImage({{0x000, Bytes(256, 4)}, {0x100, {5}}}, "\r\n") +
                             "S107123401020304A9\r\n" + MakeSrecLine(3, 0x200, {6});
    SrecBlockReader reader;
    SrecTextLines lines(text);
    const auto blocks = AllBlocks(reader, lines);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].bytes, Bytes{5});
    EXPECT_TRUE(reader.EndedOnError());
}

TEST(SrecBlocks, ArmingStartsAFreshDownload) {
    const std::string first = MakeSrecImage({{0x000, {1, 1, 1}}, {0x500, Bytes(256, 7)}}, "\r\n");
    const std::string second = MakeSrecImage({{0x000, {2, 2}}}, "\r\n");
    SrecBlockReader reader;
    uint8_t buffer[kSrecBlockSize];
    uint32_t address = 0;
    uint32_t length = 0;
    SrecTextLines firstLines(first);
    EXPECT_TRUE(reader.Next(firstLines, buffer, &address, &length));  // first download left half-way
    reader.Arm();
    SrecTextLines secondLines(second);
    EXPECT_FALSE(reader.Next(secondLines, buffer, &address, &length));
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(Bytes(buffer, buffer + length), (Bytes{2, 2}));
}

TEST(SrecBlocks, ProgramWideReaderOverAFileStream) {
    const std::string text = MakeSrecImage({{0x80, {9, 8, 7}}}, "\n");
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    for (int download = 0; download < 2; ++download) {
        std::rewind(file);
        srec_arm_block_reader();
        uint8_t buffer[kSrecBlockSize];
        uint32_t address = 0;
        uint32_t length = 0;
        EXPECT_FALSE(srec_next_block(file, buffer, &address, &length));
        EXPECT_EQ(length, 0x83u) << download;
        EXPECT_EQ(buffer[0x7F], 0xFF);
        EXPECT_EQ(buffer[0x80], 9);
    }
    std::fclose(file);
}

TEST(SrecScanTest, FindsEveryFaultBeforeTheEnd) {
    struct Row {
        const char* legend;
        std::string text;
        SrecScanStatus status;
        uint32_t badAddress;
        uint32_t previousLast;
    };
    const std::string invalid = "S107123401020304A9\r\n";
    const Row rows[] = {
        {"sorted", MakeSrecImage({{0x100, {1}}, {0x101, {2}}}, "\r\n"), SrecScanStatus::kOk, 0, 0},
        {"invalid line in the middle", MakeSrecLine(3, 0x100, {1}) + invalid + MakeSrecLine(3, 0x200, {1}),
         SrecScanStatus::kInvalidLine, 0, 0},
        {"invalid last line", MakeSrecLine(3, 0x100, {1}) + invalid, SrecScanStatus::kInvalidLine, 0, 0},
        {"below the lowest address", MakeSrecImage({{0x200, {1}}, {0x100, {2}}}, "\r\n"),
         SrecScanStatus::kNotSorted, 0x100, 0x200},
        {"overlapping the record before", MakeSrecImage({{0x100, Bytes(16, 1)}, {0x108, {2}}}, "\n"),
         SrecScanStatus::kNotSorted, 0x108, 0x10F},
        {"below an earlier record, above the lowest",
         MakeSrecImage({{0x100, {1}}, {0x300, {2}}, {0x200, {3}}}, "\n"), SrecScanStatus::kNotSorted, 0x200,
         0x300},
        {"no S3 record", "S00F000068656C6C6F202020202000003C\r\nS107123401020304A8\r\nS9030000FC\r\n",
         SrecScanStatus::kNoData, 0, 0},
        {"empty file", "", SrecScanStatus::kNoData, 0, 0},
        {"only empty S3 records", MakeSrecLine(3, 0x100, {}), SrecScanStatus::kNoData, 0, 0},
    };
    for (const auto& row : rows) {
        SrecTextLines lines(row.text);
        const SrecScan scan = srec_scan(lines);
        EXPECT_EQ(scan.status, row.status) << row.legend;
        if (row.status == SrecScanStatus::kNotSorted) {
            EXPECT_EQ(scan.badAddress, row.badAddress) << row.legend;
            EXPECT_EQ(scan.previousLast, row.previousLast) << row.legend;
        }
    }
}

TEST(SrecScanTest, NotSortedTextNamesRecordAndAddresses) {
    const std::string text = MakeSrecImage({{0x1000, Bytes(16, 1)}, {0x0800, {2}}}, "\r\n");
    const std::string withHeader = "S00F000068656C6C6F202020202000003C\r\n" + text;
    SrecTextLines lines(withHeader);
    const SrecScan scan = srec_scan(lines);
    EXPECT_EQ(scan.NotSortedText(),
              "Input not sorted !  Record 3 has address 0x00000800, previous was 0x0000100F\n");
}

TEST(SrecScanTest, BoundsEstimateAndProgressMarks) {
    std::vector<std::pair<uint32_t, Bytes>> records;
    for (uint32_t i = 0; i < 2500; ++i) {
        records.push_back({0x08000000u + i * 16, Bytes(16, static_cast<uint8_t>(i))});
    }
    const std::string text = MakeSrecImage(records, "\r\n");
    SrecTextLines lines(text);
    std::vector<long> marks;
    const SrecScan scan = srec_scan(lines, [&](long n) { marks.push_back(n); });
    EXPECT_TRUE(scan.Ok());
    EXPECT_EQ(marks, (std::vector<long>{1000, 2000}));
    EXPECT_EQ(scan.lowest, 0x08000000u);
    EXPECT_EQ(scan.highest, 0x08000000u + 2500 * 16 - 1);
    EXPECT_EQ(scan.BlockEstimate(), 200);  // 157 blocks, up to the next hundred

    SrecScan span;
    span.lowest = 0;
    span.highest = 0x3FFFF;
    EXPECT_EQ(span.BlockEstimate(), 1100);  // 1024 blocks
}

TEST(SrecScanTest, BlocksCountFromTheBoundaryBelowTheLowestAddress) {
    struct Row {
        uint32_t lowest;
        uint32_t highest;
        uint32_t blocks;
        int32_t estimate;
    };
    const Row rows[] = {
        {0x00020180, 0x00020D37, 13, 100},  // unaligned start: the first block is a partial one
        {0x00000000, 0xFFFFFFFF, 16777216, 16777300},
        {0x00000100, 0x00000100, 1, 100},  // one byte
        {0xFFFFFFFF, 0xFFFFFFFF, 1, 100},  // the last byte there is
        {0x000000FF, 0x00000100, 2, 100},  // two bytes astride a boundary
        {0x00000000, 0x000000FF, 1, 100},  // exactly one block
        {0x00010000, 0x00010100, 2, 100},  // one byte into the next
        {0x00000000, 0x0003FFFF, 1024, 1100},
        {0x00000100, 0x000063FF, 99, 100},
        {0x00000180, 0x0000647F, 100, 200},  // as many bytes, one block more
        {0xFFFFFFFF, 0x00000000, 0, 100},    // no data
    };
    for (const Row& row : rows) {
        SrecScan scan;
        scan.lowest = row.lowest;
        scan.highest = row.highest;
        EXPECT_EQ(srec_blocks_spanned(row.lowest, row.highest), row.blocks) << std::hex << row.lowest;
        EXPECT_EQ(scan.BlocksSpanned(), static_cast<int32_t>(row.blocks)) << std::hex << row.lowest;
        EXPECT_EQ(scan.BlockEstimate(), row.estimate) << std::hex << row.lowest;
    }
}

// Images written by srecord's srec_cat from random binaries must come back byte for byte.
class SrecCatImages : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(std::system("command -v srec_cat >/dev/null 2>&1"), 0)
            << "srec_cat (Debian package srecord) is required: run scripts/install-deps";
        char pattern[] = "/tmp/lct-srec-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::system(("rm -rf '" + dir_ + "'").c_str());
        }
    }
    std::string dir_;
};

TEST_F(SrecCatImages, BlocksReassembleToTheBinaries) {
    struct Row {
        const char* legend;
        std::vector<std::pair<uint32_t, size_t>> chunks;  // address, size
        int blockSize;
        bool crlf;
    };
    const Row rows[] = {
        {"aligned", {{0x08000000, 4096}}, 16, false},
        {"aligned, CR LF", {{0x08000000, 4096}}, 32, true},
        {"unaligned start and end", {{0x1003, 1001}}, 16, false},
        {"unaligned, CR LF, odd record size", {{0x1003, 1001}}, 27, true},
        {"sparse", {{0x100, 10}, {0x1F5, 300}, {0x10000, 1}, {0x20080, 700}}, 16, false},
        {"sparse, CR LF, largest records", {{0x7F, 3}, {0x4000, 5000}, {0xFFFFF000, 4096}}, 55, true},
    };
    std::mt19937 rng(20240601);
    int fileNumber = 0;
    for (const auto& row : rows) {
        std::map<uint32_t, uint8_t> expected;
        std::string command = "srec_cat";
        for (const auto& [address, size] : row.chunks) {
            Bytes data(size);
            for (auto& b : data) {
                b = static_cast<uint8_t>(rng());
            }
            const std::string path = dir_ + "/chunk" + std::to_string(fileNumber++) + ".bin";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
            for (size_t i = 0; i < size; ++i) {
                expected[address + static_cast<uint32_t>(i)] = data[i];
            }
            command += " '" + path + "' -binary -offset " + std::to_string(address);
        }
        const std::string image = dir_ + "/image.hex";
        command += " -o - -Motorola -Address_Length=4 -Output_Block_Size " + std::to_string(row.blockSize);
        command += row.crlf ? " | sed 's/$/\\r/'" : "";
        command += " > '" + image + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        std::FILE* file = std::fopen(image.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        SrecFileLines lines(file);
        const SrecScan scan = srec_scan(lines);
        EXPECT_TRUE(scan.Ok()) << row.legend;
        EXPECT_EQ(scan.lowest, expected.begin()->first) << row.legend;
        EXPECT_EQ(scan.highest, expected.rbegin()->first) << row.legend;

        std::rewind(file);
        SrecBlockReader reader;
        std::map<uint32_t, uint8_t> placed;
        for (const auto& block : AllBlocks(reader, lines)) {
            for (size_t i = 0; i < block.bytes.size(); ++i) {
                const uint32_t address = block.address + static_cast<uint32_t>(i);
                const auto it = expected.find(address);
                if (it == expected.end()) {
                    EXPECT_EQ(block.bytes[i], 0xFF) << row.legend << " gap byte at " << address;
                } else {
                    EXPECT_TRUE(placed.emplace(address, block.bytes[i]).second) << row.legend << " twice";
                }
            }
        }
        EXPECT_FALSE(reader.EndedOnError()) << row.legend;
        EXPECT_EQ(placed, expected) << row.legend;
        std::fclose(file);
    }
}

}  // namespace
