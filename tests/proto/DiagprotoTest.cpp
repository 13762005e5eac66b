#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "proto/Diagproto.h"

namespace {

// What feeding a byte string reports: every non-zero result with the index of its byte.
struct Event {
    size_t index;
    int result;
    bool operator==(const Event&) const = default;
};

std::vector<Event> Feed(const Bytes& bytes, DiagFrameState& st, uint8_t* buffer, uint16_t limit) {
    std::vector<Event> events;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int r = diag_frame_step(bytes[i], st, buffer, limit);
        if (r != kDiagNone) {
            events.push_back({i, r});
        }
    }
    return events;
}

Bytes WithLength(uint16_t length) {
    Bytes b = {0x02, 0x99, 0x66, 0x20, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    return b;
}

const Bytes kEmpty16 = {0x02, 0x99, 0x66, 0x10, 0x04, 0x00, 0x14, 0x03};
const Bytes kGood = FrameOf(0x42, {1, 2, 3});

Bytes Corrupt(Bytes b, size_t at) {
    b[at] ^= 0x5A;
    return b;
}

struct Case {
    const char* legend;
    Bytes bytes;
    std::vector<Event> events;
};

class DiagFrameCases : public ::testing::TestWithParam<Case> {};

TEST_P(DiagFrameCases, ReportsExactlyTheExpectedResults) {
    const Case& c = GetParam();
    DiagFrameState st;
    uint8_t buffer[DiagProto::kBufferSize];
    EXPECT_EQ(Feed(c.bytes, st, buffer, DiagProto::kBufferSize), c.events) << c.legend;
}

const size_t kG = kGood.size();  // 11

INSTANTIATE_TEST_SUITE_P(
    Table, DiagFrameCases,
    ::testing::Values(
        Case{"empty frame of id 16", kEmpty16, {{7, kDiagFrame}}},
        Case{"noise before a frame is skipped",
             Cat({{0x00, 0xFF, 0x99, 0x66, 0x03}, kGood}),
             {{5 + kG - 1, 1}}},
        Case{"02 not followed by 99 66 is skipped",
             Cat({{0x02, 0x10, 0x02, 0x99, 0x10}, kGood}),
             {{5 + kG - 1, 1}}},
        Case{"02 where 99 was expected starts the frame", Cat({{0x02}, kGood}), {{kG, 1}}},
        Case{"02 where 66 was expected starts the frame", Cat({{0x02, 0x99}, kGood}), {{kG + 1, 1}}},
        Case{"bad id then a good frame", Cat({Corrupt(kGood, 3), kGood}), {{kG - 2, 3}, {2 * kG - 1, 1}}},
        Case{
            "bad payload then a good frame", Cat({Corrupt(kGood, 7), kGood}), {{kG - 2, 3}, {2 * kG - 1, 1}}},
        Case{"bad checksum then a good frame",
             Cat({Corrupt(kGood, kG - 2), kGood}),
             {{kG - 2, 3}, {2 * kG - 1, 1}}},
        Case{"bad trailer then a good frame",
             Cat({Corrupt(kGood, kG - 1), kGood}),
             {{kG - 1, 4}, {2 * kG - 1, 1}}},
        Case{"length 0 is abandoned", Cat({WithLength(0), kGood}), {{5, 2}, {6 + kG - 1, 1}}},
        Case{"length 3 is abandoned", Cat({WithLength(3), kGood}), {{5, 2}, {6 + kG - 1, 1}}},
        Case{"length 65532 (wraps to 0) is abandoned",
             Cat({WithLength(65532), kGood}),
             {{5, 2}, {6 + kG - 1, 1}}},
        Case{"length 65535 (wraps to 3) is abandoned",
             Cat({WithLength(65535), kGood}),
             {{5, 2}, {6 + kG - 1, 1}}},
        Case{"length 3997 exceeds the buffer", Cat({WithLength(3997), kGood}), {{5, 2}, {6 + kG - 1, 1}}},
        Case{"length 65531 exceeds the buffer", Cat({WithLength(65531), kGood}), {{5, 2}, {6 + kG - 1, 1}}},
        Case{"payload holding sync and line-end bytes",
             FrameOf(7, {0x02, 0x99, 0x66, 0x0D, 0x0A, 0x03, 0x02}),
             {{14, 1}}},
        Case{"two frames back to back", Cat({kGood, kEmpty16}), {{kG - 1, 1}, {kG + 7, 1}}}));

TEST(DiagProto, EmptyFrameLengthAndId) {
    DiagProto p;
    bool done = false;
    for (uint8_t b : kEmpty16) {
        done = p.ProcessByte(b);
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(p.MessageLength(), 8);
    EXPECT_EQ(p.MessageData()[frame::kIdOffset], 16);
}

TEST(DiagProto, FrameOfExactlyTheBufferSizeCompletesAndOneMoreIsAbandoned) {
    DiagFrameState st;
    std::vector<uint8_t> buffer(DiagProto::kBufferSize);
    const Bytes largest = FrameOf(9, Bytes(DiagProto::kBufferSize - frame::kOverhead, 0xAB));
    ASSERT_EQ(largest.size(), 4000u);
    EXPECT_EQ(Feed(largest, st, buffer.data(), DiagProto::kBufferSize), (std::vector<Event>{{3999, 1}}));
    EXPECT_EQ(st.total, 4000);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), largest);

    const Bytes tooLong = FrameOf(9, Bytes(DiagProto::kBufferSize - frame::kOverhead + 1, 0xAB));
    const auto events = Feed(tooLong, st, buffer.data(), DiagProto::kBufferSize);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), (Event{5, kDiagBadLength}));  // at the length's high byte
}

TEST(DiagProto, CompletedFrameStaysReadableUntilTheNextByte) {
    DiagProto p;
    for (uint8_t b : kGood) {
        p.ProcessByte(b);
    }
    uint8_t copy[64] = {};
    EXPECT_EQ(p.CopyMessage(copy, sizeof copy), kGood.size());
    EXPECT_EQ(Bytes(copy, copy + kGood.size()), kGood);
    EXPECT_EQ(p.CopyMessage(copy, 4), kGood.size());  // copies at most the maximum

    // Noise that is not a sync byte leaves the buffer alone; only a new 0x02 overwrites it.
    p.ProcessByte(0x55);
    EXPECT_EQ(Bytes(p.MessageData(), p.MessageData() + kGood.size()), kGood);
}

TEST(DiagProto, RequestFrameCompletesOnItsLastByteOnly) {
    uint8_t request[12];
    ASSERT_EQ(build_request_frame(216, 6, 0, request), 12);
    DiagProto p;
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(p.ProcessByte(request[i]), i == 11) << "byte " << i;
    }
    EXPECT_EQ(p.MessageLength(), 12);
}

TEST(DiagProto, UnknownStateIsReportedAndParserHuntsAgain) {
    DiagFrameState st;
    uint8_t buffer[16];
    st.state = 42;
    st.count = 3;
    EXPECT_EQ(diag_frame_step(0x00, st, buffer, sizeof buffer), kDiagBadState);
    EXPECT_EQ(st.state, 0);
    EXPECT_EQ(Feed(kEmpty16, st, buffer, sizeof buffer), (std::vector<Event>{{7, 1}}));
}

TEST(DiagProto, ResetDropsAPartialFrame) {
    DiagProto p;
    for (size_t i = 0; i < kGood.size() - 2; ++i) {
        p.ProcessByte(kGood[i]);
    }
    p.Reset();
    bool done = false;
    for (uint8_t b : kGood) {
        done = p.ProcessByte(b);
    }
    EXPECT_TRUE(done);
}

}  // namespace
