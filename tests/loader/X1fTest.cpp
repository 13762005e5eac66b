#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/X1f.h"
#include "proto/Bytes.h"
#include "proto/Diagproto.h"
#include "proto/Frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(X1fFrame, LoadCommandLayout) {
    Bytes data(256);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    Bytes frame(272, 0xEE);
    ASSERT_EQ(x1f_build_frame(X1F_LOAD, 0x00012300, data.data(), 256, 0, frame.data()), 272);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), (Bytes{0x02, 0x99, 0x66, 31, 0x0C, 0x01}));
    EXPECT_EQ(frame[6], 2);
    EXPECT_EQ(frame[7], 0);
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 14), (Bytes{0x00, 0x01, 0x00, 0x23, 0x01, 0x00}));
    EXPECT_EQ(Bytes(frame.begin() + 14, frame.begin() + 270), data);
    EXPECT_EQ(frame[270], xor_checksum(frame.data() + 3, 267));
    EXPECT_EQ(frame[271], 0x03);
}

TEST(X1fFrame, FlagKeepsOnlyBitZeroAndDataPastLengthIsLeft) {
    Bytes frame(272, 0xEE);
    const uint8_t data[4] = {1, 2, 3, 4};
    x1f_build_frame(X1F_CRCANY, 5, data, 4, 3, frame.data());
    EXPECT_EQ(frame[7], 1);
    EXPECT_EQ(get_le16(frame.data() + 8), 4);
    EXPECT_EQ(frame[18], 0xEE);
}

TEST(X1fFrame, TooMuchDataIsRefused) {
    Bytes data(257);
    Bytes frame(272, 0xEE);
    EXPECT_EQ(x1f_build_frame(X1F_LOAD, 0, data.data(), 257, 0, frame.data()), 0);
    EXPECT_EQ(frame, Bytes(272, 0xEE));
}

TEST(X1fFrame, ParsesBackThroughTheFrameParser) {
    Bytes frame(272);
    x1f_build_frame(X1F_SETUP, 0x08000000, nullptr, 0, 0, frame.data());
    DiagFrameState state;
    uint8_t buffer[1024];
    int frames = 0;
    for (uint8_t b : frame) {
        frames += diag_frame_step(b, state, buffer, sizeof buffer) == kDiagFrame;
    }
    ASSERT_EQ(frames, 1);
    X1fPayload payload;
    ASSERT_TRUE(x1f_decode_payload(buffer + 6, state.total - 8, payload));
    EXPECT_EQ(payload.code, X1F_SETUP);
    EXPECT_EQ(payload.value, 0x08000000u);
}

TEST(X1fNames, IndexTable) {
    struct Row {
        uint8_t code;
        int index;
        const char* name;
    };
    const Row rows[] = {
        {0, 0, "X1F_PING"},      {12, 12, "X1F_CRCRAM"},   {100, 13, "X1F_PASS"},
        {101, 14, "X1F_FAIL"},   {102, 15, "X1F_WORKING"}, {200, 16, "X1F_BADADDRESS"},
        {202, 18, "X1F_BADCMD"}, {203, 19, "X1F_NOPROG"},  {13, -1, "(unnamed)"},
        {99, -1, "(unnamed)"},   {103, -1, "(unnamed)"},   {199, -1, "(unnamed)"},
        {204, -1, "(unnamed)"},  {255, -1, "(unnamed)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(x1f_name_index(row.code), row.index) << int(row.code);
        EXPECT_STREQ(x1f_name(row.code), row.name) << int(row.code);
    }
}

TEST(X1fPayloadDecode, ShortRepliesAreRefusedOrZeroFilled) {
    Bytes full(300, 0xAB);
    full[0] = X1F_PASS;
    put_le32(full.data() + 4, 0x11223344);
    X1fPayload p;
    EXPECT_FALSE(x1f_decode_payload(full.data(), 7, p));
    ASSERT_TRUE(x1f_decode_payload(full.data(), 8, p));
    EXPECT_EQ(p.code, X1F_PASS);
    EXPECT_EQ(p.value, 0x11223344u);
    EXPECT_EQ(p.data[0], 0);
    ASSERT_TRUE(x1f_decode_payload(full.data(), 12, p));
    EXPECT_EQ(Bytes(p.data, p.data + 6), (Bytes{0xAB, 0xAB, 0xAB, 0xAB, 0, 0}));
    ASSERT_TRUE(x1f_decode_payload(full.data(), 300, p));  // longer than the layout: the rest unread
    EXPECT_EQ(p.data[255], 0xAB);
}

TEST(X1fTrace, SilentUntilASinkIsInstalled) {
    std::vector<std::string> lines;
    uint8_t frame[272];
    x1f_build_frame(X1F_PING, 0, nullptr, 0, 0, frame);
    SetX1fTraceSink([&](const std::string& line) { lines.push_back(line); });
    const Bytes data(16, 1);
    x1f_build_frame(X1F_LOAD, 0, data.data(), 16, 0, frame);
    x1f_trace("Got x1f: %s [%d] %lu", x1f_name(200), 200, 7ul);
    SetX1fTraceSink({});
    x1f_trace("not seen");
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Sent x1f: X1F_LOAD [2] (16) ", "Got x1f: X1F_BADADDRESS [200] 7"}));
}

}  // namespace
