#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "proto/Crlfproto.h"

namespace {

// Feeds bytes through a CRLFProto and returns every completed line, CR LF included.
std::vector<std::string> Lines(const Bytes& bytes, CRLFProto& p) {
    std::vector<std::string> lines;
    for (uint8_t b : bytes) {
        if (p.ProcessByte(b)) {
            lines.emplace_back(reinterpret_cast<const char*>(p.MessageData()), p.MessageLength());
        }
    }
    return lines;
}

struct Case {
    const char* legend;
    Bytes bytes;
    std::vector<std::string> lines;
};

class CrlfCases : public ::testing::TestWithParam<Case> {};

TEST_P(CrlfCases, CompletesExactlyTheExpectedLines) {
    CRLFProto p;
    EXPECT_EQ(Lines(GetParam().bytes, p), GetParam().lines) << GetParam().legend;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CrlfCases,
    ::testing::Values(
        Case{"a sentence", Text("$GPGGA,1,2\r\n"), {"$GPGGA,1,2\r\n"}},
        Case{"CR LF alone", Text("\r\n"), {"\r\n"}},
        Case{"CR then X abandons the line and loses the X", Text("AB\rXCD\r\n"), {"CD\r\n"}},
        Case{"CR CR abandons; the LF starts the next line", Text("AB\r\r\nCD\r\n"), {"\nCD\r\n"}},
        Case{"bare LF is data", Text("A\nB\r\n"), {"A\nB\r\n"}},
        Case{"no line end yet", Text("$GPGGA,1"), {}},
        Case{"binary bytes before the first line end form the first line",
             Cat({{0x02, 0x99, 0x00}, Text("$GP\r\n")}),
             {std::string("\x02\x99\x00$GP\r\n", 8)}},
        Case{"two sentences", Text("$GPA\r\n$PNB\r\n"), {"$GPA\r\n", "$PNB\r\n"}}));

TEST(CRLFProto, ElevenCharacterSentenceIsThirteenBytes) {
    CRLFProto p;
    const auto lines = Lines(Text("$GPABCDEFGH\r\n"), p);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(p.MessageLength(), 13);
    EXPECT_EQ(p.MessageData()[0], '$');
}

TEST(CRLFProto, LineLimitAndRecoveryAfterOverflow) {
    CRLFProto p;
    // 1198 data bytes + CR LF fill the 1200-byte buffer exactly.
    const Bytes fits = Cat({Bytes(1198, 'x'), Text("\r\n")});
    EXPECT_EQ(Lines(fits, p).size(), 1u);
    EXPECT_EQ(p.MessageLength(), 1200);

    // With 1199 data bytes the CR is byte 1200, the LF overflows and is dropped; the next
    // byte starts a new line, so the tail completes as a line of its own.
    uint8_t buffer[CRLFProto::kBufferSize];
    CrlfFrameState st;
    int last = kCrlfNone;
    for (uint8_t b : Cat({Bytes(1199, 'x'), Text("\r")})) {
        last = crlf_frame_step(b, st, buffer, CRLFProto::kBufferSize);
    }
    EXPECT_EQ(last, kCrlfNone);
    EXPECT_EQ(crlf_frame_step('\n', st, buffer, CRLFProto::kBufferSize), kCrlfTooLong);
    CRLFProto q;
    EXPECT_EQ(Lines(Cat({Bytes(1300, 'y'), Text("tail\r\n")}), q),
              (std::vector<std::string>{std::string(99, 'y') + "tail\r\n"}));
}

TEST(CRLFProto, UnknownStateIsReported) {
    CrlfFrameState st;
    uint8_t buffer[8];
    st.state = 9;
    st.count = 2;
    EXPECT_EQ(crlf_frame_step('a', st, buffer, sizeof buffer), kCrlfBadState);
    EXPECT_EQ(st.state, 0);
}

TEST(CRLFProto, CopyMessageCopiesAtMostTheMaximum) {
    CRLFProto p;
    Lines(Text("$GPXYZ\r\n"), p);
    char out[16] = {};
    EXPECT_EQ(p.CopyMessage(reinterpret_cast<uint8_t*>(out), 3), 8u);
    EXPECT_EQ(std::string(out), "$GP");
}

}  // namespace
