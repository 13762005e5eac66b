// The routing of received frames to the windows registered for them.
#include <gtest/gtest.h>

#include <vector>

#include "proto/Diagproto.h"
#include "proto/Frame.h"
#include "ui/Msgrouting.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Ids these tests use; each test registers what it needs, as registrations cannot be removed.
constexpr uint8_t kIdReplaced = 200;
constexpr uint8_t kIdUnset = 201;
constexpr uint8_t kIdNeverRegistered = 202;
constexpr uint8_t kIdWhole = 203;

Bytes FrameWithId(uint8_t id, const Bytes& payload) {
    Bytes frame(payload.size() + 8);
    frame.resize(build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), frame.data()));
    return frame;
}

TEST(Routing, ReRegistrationReplacesTheEarlierRecipient) {
    int first = 0;
    int second = 0;
    int owner = 0;
    RegisterRecipient(kIdReplaced, {&owner, [&](const uint8_t*, int32_t) { ++first; }, 0});
    const Bytes frame = FrameWithId(kIdReplaced, {1});
    EXPECT_TRUE(DispatchFrame(frame.data(), static_cast<int32_t>(frame.size())));
    RegisterRecipient(kIdReplaced, {nullptr, [&](const uint8_t*, int32_t) { ++second; }, 0});
    EXPECT_TRUE(DispatchFrame(frame.data(), static_cast<int32_t>(frame.size())));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    ASSERT_NE(FindRecipient(kIdReplaced), nullptr);
    EXPECT_EQ(FindRecipient(kIdReplaced)->owner, nullptr);
}

TEST(Routing, AnUnsetHandlerSwallowsFramesOfItsId) {
    RegisterRecipient(kIdUnset, MsgRecipient{});
    const Bytes frame = FrameWithId(kIdUnset, {});
    EXPECT_FALSE(DispatchFrame(frame.data(), static_cast<int32_t>(frame.size())));
    EXPECT_NE(FindRecipient(kIdUnset), nullptr);
}

TEST(Routing, AnAbsentIdReachesNoHandlerAndGetsNoEntry) {
    const size_t before = Recipients().size();
    const Bytes frame = FrameWithId(kIdNeverRegistered, {});
    EXPECT_FALSE(DispatchFrame(frame.data(), static_cast<int32_t>(frame.size())));
    EXPECT_EQ(FindRecipient(kIdNeverRegistered), nullptr);
    EXPECT_EQ(Recipients().size(), before);
}

TEST(Routing, TheHandlerSeesTheWholeFrameAsTheFramerCompletedIt) {
    Bytes seen;
    RegisterRecipient(kIdWhole, {nullptr, [&](const uint8_t* frame, int32_t length) {
                                     seen.assign(frame, frame + length);
                                 }});
    const Bytes frame = FrameWithId(kIdWhole, {0x02, 0x99, 0x66, 0x03, 0x0D, 0x0A});
    // Through the framer, as the receive loop does it.
    DiagProto framer;
    bool complete = false;
    for (const uint8_t b : frame) {
        complete = framer.ProcessByte(b);
    }
    ASSERT_TRUE(complete);
    EXPECT_TRUE(DispatchFrame(framer.MessageData(), framer.MessageLength()));
    EXPECT_EQ(seen, frame);
}

TEST(Routing, FramesTooShortToCarryAnIdAreIgnored) {
    RegisterRecipient(0x02, {nullptr, [](const uint8_t*, int32_t) { ADD_FAILURE() << "handler ran"; }});
    const uint8_t bytes[] = {0x02, 0x99, 0x66};
    EXPECT_FALSE(DispatchFrame(bytes, 3));
    EXPECT_FALSE(DispatchFrame(bytes, -1));
    EXPECT_FALSE(DispatchFrame(nullptr, 10));
}

}  // namespace
