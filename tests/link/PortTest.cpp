// The link state that the windows share.
#include <gtest/gtest.h>

#include "link/Port.h"

namespace {

TEST(LinkState, StartsClosedWithNoPortChosen) {
    // Nothing in this test program chooses a port, so the state is still as constructed.
    const LinkState& link = Link();
    EXPECT_FALSE(link.line.IsOpen());
    EXPECT_TRUE(link.portName.empty());
    EXPECT_EQ(link.baudRate, 0);
    EXPECT_EQ(ReceivePath::kReadSize, 1024U);
    EXPECT_EQ(&link, &Link());
}

TEST(PortStatus, UpdateCallsTheInstalledHookAndNothingWithoutOne) {
    UpdatePortStatus();  // no hook yet: nothing happens
    int calls = 0;
    SetPortStatusHook([&] { ++calls; });
    UpdatePortStatus();
    UpdatePortStatus();
    EXPECT_EQ(calls, 2);
    SetPortStatusHook(nullptr);
    UpdatePortStatus();
    EXPECT_EQ(calls, 2);
}

}  // namespace
