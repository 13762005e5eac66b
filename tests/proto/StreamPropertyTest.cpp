// Whole-stream properties: a receiver's mixed output is framed back message for message,
// and corrupted output never yields a frame that fails its own checks.
#include <gtest/gtest.h>

#include "FrameBytes.h"
#include "proto/Bytes.h"
#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "proto/Receivepump.h"
#include "support/MixedStream.h"

namespace {

struct Framed {
    std::vector<std::string> sentences;
    std::vector<Bytes> frames;
};

// The receive loop shows lines that begin "$GP" or "$PN"; a frame's payload may hold a
// stray '$' after a CR LF, which the line framer rightly passes on as a line.
bool IsShownSentence(const CRLFProto& crlf) {
    const std::string_view line(reinterpret_cast<const char*>(crlf.MessageData()), crlf.MessageLength());
    return line.starts_with("$GP") || line.starts_with("$PN");
}

// The reference: byte by byte, frame parser first, then the line framer, which starts
// afresh after every frame so that a sentence that follows stands alone.
Framed FeedByteByByte(const std::vector<uint8_t>& bytes) {
    DiagProto diag;
    CRLFProto crlf;
    Framed out;
    for (uint8_t b : bytes) {
        const bool frameDone = diag.ProcessByte(b);
        if (frameDone) {
            out.frames.emplace_back(diag.MessageData(), diag.MessageData() + diag.MessageLength());
        }
        if (crlf.ProcessByte(b) && IsShownSentence(crlf)) {
            out.sentences.emplace_back(reinterpret_cast<const char*>(crlf.MessageData()),
                                       crlf.MessageLength() - 2);
        }
        if (frameDone) {
            crlf.Reset();
        }
    }
    return out;
}

// The receive loop's pump, in reads of varying size as the serial port delivers them.
Framed FeedThroughPump(const std::vector<uint8_t>& bytes, uint32_t randomStart) {
    DiagProto diag;
    CRLFProto crlf;
    Framed out;
    std::mt19937 rng(randomStart);
    std::uniform_int_distribution<size_t> readSize(1, 1024);
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min(readSize(rng), bytes.size() - at);
        feed_received_bytes(
            diag, crlf, bytes.data() + at, n,
            [&](const DiagProto& d) {
                out.frames.emplace_back(d.MessageData(), d.MessageData() + d.MessageLength());
            },
            [&](const CRLFProto& c) {
                if (IsShownSentence(c)) {
                    out.sentences.emplace_back(reinterpret_cast<const char*>(c.MessageData()),
                                               c.MessageLength() - 2);
                }
            });
        at += n;
    }
    return out;
}

// Every check a completed frame must pass, independent of the parser.
::testing::AssertionResult FrameHolds(const Bytes& f) {
    if (f.size() < frame::kOverhead) {
        return ::testing::AssertionFailure() << "short frame " << f.size();
    }
    if (f[0] != 0x02 || f[1] != 0x99 || f[2] != 0x66 || f.back() != 0x03) {
        return ::testing::AssertionFailure() << "bad sync or trailer";
    }
    if (size_t{get_le16(f.data() + 4)} + 4 != f.size()) {
        return ::testing::AssertionFailure() << "length field disagrees with " << f.size();
    }
    if (xor_checksum(f.data() + 3, static_cast<uint16_t>(f.size() - 4)) != 0) {
        return ::testing::AssertionFailure() << "checksum does not hold";
    }
    return ::testing::AssertionSuccess();
}

class MixedStreamProperty : public ::testing::TestWithParam<uint32_t> {};

TEST_P(MixedStreamProperty, EveryMessageIsFramedBackExactly) {
    testsupport::MixedStreamOptions options;
    options.randomStart = GetParam();
    options.targetBytes = 256 * 1024;
    options.hostilePayloads = (GetParam() % 2) == 0;
    const auto stream = testsupport::MakeMixedStream(options);
    const Framed byByte = FeedByteByByte(stream.bytes);
    EXPECT_EQ(byByte.frames, stream.frames);
    EXPECT_EQ(byByte.sentences, stream.sentences);
    const Framed pumped = FeedThroughPump(stream.bytes, GetParam());
    EXPECT_EQ(pumped.frames, stream.frames);
    EXPECT_EQ(pumped.sentences, stream.sentences);
}

TEST_P(MixedStreamProperty, FlippedBytesNeverYieldABrokenFrame) {
    testsupport::MixedStreamOptions options;
    options.randomStart = GetParam();
    options.targetBytes = 256 * 1024;
    options.hostilePayloads = true;
    auto stream = testsupport::MakeMixedStream(options);
    std::mt19937 rng(GetParam() * 7919u);
    std::uniform_int_distribution<size_t> where(0, stream.bytes.size() - 1);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < 40; ++i) {
        stream.bytes[where(rng)] ^= static_cast<uint8_t>(1u << bit(rng));
    }
    const Framed got = FeedByteByByte(stream.bytes);
    for (const auto& f : got.frames) {
        ASSERT_TRUE(FrameHolds(f));
    }
    // The pump's bulk paths must not change what damaged input yields.
    const Framed pumped = FeedThroughPump(stream.bytes, GetParam());
    EXPECT_EQ(pumped.frames, got.frames);
    EXPECT_EQ(pumped.sentences, got.sentences);
    // Most frames survive a few dozen flips: the parser resynchronises after each loss.
    EXPECT_GT(got.frames.size(), stream.frames.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MixedStreamProperty, ::testing::Values(1u, 2u, 3u, 4u, 2026u, 90210u));

TEST(MixedStreamProperty, ParsersOverSeparateStateDoNotInterfere) {
    // The loader runs a parser of its own beside the receive loop's; interleaving two
    // streams byte by byte through two state records must find every frame of both.
    testsupport::MixedStreamOptions options;
    options.targetBytes = 64 * 1024;
    options.randomStart = 77;
    const auto one = testsupport::MakeMixedStream(options);
    options.randomStart = 78;
    const auto two = testsupport::MakeMixedStream(options);
    DiagFrameState a;
    DiagFrameState b;
    std::vector<uint8_t> bufA(DiagProto::kBufferSize);
    std::vector<uint8_t> bufB(DiagProto::kBufferSize);
    size_t framesA = 0;
    size_t framesB = 0;
    for (size_t i = 0; i < std::max(one.bytes.size(), two.bytes.size()); ++i) {
        if (i < one.bytes.size()) {
            framesA += diag_frame_step(one.bytes[i], a, bufA.data(), DiagProto::kBufferSize) == kDiagFrame;
        }
        if (i < two.bytes.size()) {
            framesB += diag_frame_step(two.bytes[i], b, bufB.data(), DiagProto::kBufferSize) == kDiagFrame;
        }
    }
    EXPECT_EQ(framesA, one.frames.size());
    EXPECT_EQ(framesB, two.frames.size());
}

}  // namespace
