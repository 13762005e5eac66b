#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "proto/Bytes.h"

namespace {

TEST(FrameBuilders, RequestFramesAreByteExact) {
    struct Row {
        uint8_t id;
        Bytes wire;
    };
    const Row rows[] = {
        {216, {0x02, 0x99, 0x66, 0x10, 0x08, 0x00, 0xD8, 0x06, 0x00, 0x00, 0xC6, 0x03}},
        {218, {0x02, 0x99, 0x66, 0x10, 0x08, 0x00, 0xDA, 0x06, 0x00, 0x00, 0xC4, 0x03}},
    };
    for (const auto& row : rows) {
        uint8_t out[12];
        ASSERT_EQ(build_request_frame(row.id, request::kStandardMode, 0, out), 12);
        EXPECT_EQ(Bytes(out, out + 12), row.wire) << int(row.id);
    }
}

TEST(FrameBuilders, RequestValueIsLittleEndian) {
    uint8_t out[12];
    build_request_frame(1, 2, 0x1234, out);
    EXPECT_EQ(out[8], 0x34);
    EXPECT_EQ(out[9], 0x12);
    EXPECT_EQ(xor_checksum(out + 3, 8), 0);  // id .. checksum XOR to zero
}

TEST(FrameBuilders, EmptyPayloadGivesTheEightByteFrame) {
    EXPECT_EQ(FrameOf(16, {}), (Bytes{0x02, 0x99, 0x66, 0x10, 0x04, 0x00, 0x14, 0x03}));
}

TEST(FrameBuilders, HeaderLengthFieldAndTrailerPositions) {
    Bytes f(272, 0xEE);
    build_frame_header(31, 272, f.data(), 3, 271);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (Bytes{0x02, 0x99, 0x66, 31, 0x0C, 0x01}));
    EXPECT_EQ(f[271], 0x03);
    EXPECT_EQ(f[6], 0xEE);  // the header writer touches nothing else
}

TEST(FrameBuilders, XorChecksum) {
    const uint8_t bytes[] = {0x10, 0x08, 0x00, 0xD8, 0x06, 0x00, 0x00};
    EXPECT_EQ(xor_checksum(bytes, 0), 0);
    EXPECT_EQ(xor_checksum(bytes, 7), 0xC6);
}

TEST(FrameBuilders, PayloadTooLongForTheLengthFieldIsRefused) {
    std::vector<uint8_t> payload(frame::kMaxPayload + 1);
    std::vector<uint8_t> out(payload.size() + frame::kOverhead, 0x77);
    EXPECT_EQ(build_frame(1, payload.data(), static_cast<uint16_t>(payload.size()), out.data()), 0);
    EXPECT_EQ(out[0], 0x77);
}

TEST(Bytes, LittleEndianRoundTrip) {
    uint8_t b[4];
    put_le32(b, 0xFFFFFFFFu);
    EXPECT_EQ(get_le32s(b), -1);
    put_le32(b, 0x01020304u);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(get_le32(b), 0x01020304u);
    put_le16(b, 0xBEEF);
    EXPECT_EQ(get_le16(b), 0xBEEF);
}

}  // namespace
