#include <gtest/gtest.h>

#include "app/Commandline.h"

namespace {

TEST(CommandLine, DevicesOptionsAndErrors) {
    const CommandLine devices = ParseCommandLine({"/dev/pts/3", "ttyUSB0"});
    EXPECT_EQ(devices.devices, (std::vector<std::string>{"/dev/pts/3", "ttyUSB0"}));
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    EXPECT_FALSE(ParseCommandLine({"--bogus"}).error.empty());
    EXPECT_EQ(ParseCommandLine({"--", "-odd-name"}).devices, (std::vector<std::string>{"-odd-name"}));
    EXPECT_NE(VersionText().find("1.01"), std::string::npos);
}

}  // namespace
