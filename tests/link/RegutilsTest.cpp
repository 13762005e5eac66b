// The port-list rules with made-up enumerations: registry values as the system's value
// enumeration would return them, and sysfs tty trees built in a temporary directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "link/Regutils.h"

namespace {

namespace fs = std::filesystem;

// A SERIALCOMM key holding `ports` as the data of its values, enumerated as the system
// does it: a name or data (with its terminator) larger than the capacity the caller gives
// ends with "more data"; an index past the last value with "no more items". `failAt`
// makes that index fail with another error.
struct FakeSerialComm {
    bool keyExists = true;
    std::vector<std::string> ports;
    std::optional<uint32_t> failAt;
    std::vector<std::pair<uint32_t, uint32_t>> capacitiesSeen;

    SerialCommSource Source() {
        SerialCommSource source;
        source.openKey = [this] { return keyExists; };
        source.enumValue = [this](uint32_t index, char* name, uint32_t* nameLength, uint8_t* data,
                                  uint32_t* dataLength) {
            capacitiesSeen.emplace_back(*nameLength, *dataLength);
            if (failAt && index == *failAt) {
                return int32_t{5};  // access denied
            }
            if (index >= ports.size()) {
                return kRegNoMoreItems;
            }
            const std::string valueName = "\\Device\\Serial" + std::to_string(index);
            const std::string& port = ports[index];
            if (valueName.size() + 1 > *nameLength || port.size() + 1 > *dataLength) {
                return kRegMoreData;
            }
            std::memcpy(name, valueName.c_str(), valueName.size() + 1);
            *nameLength = static_cast<uint32_t>(valueName.size());
            std::memcpy(data, port.c_str(), port.size() + 1);
            *dataLength = static_cast<uint32_t>(port.size() + 1);
            return kRegSuccess;
        };
        return source;
    }
};

struct RegistryCase {
    const char* legend;
    bool keyExists;
    std::vector<std::string> ports;
    bool result;
    StringDeque list;
};

class SerialCommOrder : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(SerialCommOrder, GivesTheExpectedList) {
    const RegistryCase& c = GetParam();
    FakeSerialComm fake{c.keyExists, c.ports, std::nullopt, {}};
    StringDeque list = {"stale"};  // whatever the list held before goes
    EXPECT_EQ(ListSerialCommPorts(fake.Source(), list), c.result) << c.legend;
    EXPECT_EQ(list, c.list) << c.legend;
}

const std::string k99(99, 'P');
const std::string k100(100, 'P');

INSTANTIATE_TEST_SUITE_P(
    Table, SerialCommOrder,
    ::testing::Values(
        RegistryCase{"COM2, COM4, COM1", true, {"COM2", "COM4", "COM1"}, true, {"COM1", "COM2", "COM4"}},
        RegistryCase{"COM2, COM5", true, {"COM2", "COM5"}, true, {"COM2", "COM5"}},
        RegistryCase{"COM1 before COM2", true, {"COM1", "COM3", "COM2"}, true, {"COM1", "COM2", "COM3"}},
        RegistryCase{
            "others keep their order", true, {"COM9", "COM3", "COM10"}, true, {"COM9", "COM3", "COM10"}},
        RegistryCase{"case matters", true, {"com2", "COM1"}, true, {"COM1", "com2"}},
        RegistryCase{"duplicates stay", true, {"COM3", "COM3"}, true, {"COM3", "COM3"}},
        RegistryCase{"99-character name fits", true, {"COM1", k99}, true, {"COM1", k99}},
        RegistryCase{"100-character name fails", true, {"COM1", k100, "COM3"}, false, {}},
        RegistryCase{"missing key", false, {"COM1"}, false, {}},
        RegistryCase{"empty key", true, {}, true, {}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(SerialCommEnumeration, GivesBothBuffersTheirFullCapacityForEveryValue) {
    // A short value first: a capacity left at its length would make the long one fail.
    FakeSerialComm fake{true, {"C", k99, "COM7"}, std::nullopt, {}};
    StringDeque list;
    ASSERT_TRUE(ListSerialCommPorts(fake.Source(), list));
    ASSERT_EQ(fake.capacitiesSeen.size(), 4U);
    for (const auto& [nameCapacity, dataCapacity] : fake.capacitiesSeen) {
        EXPECT_EQ(nameCapacity, kRegBufferUnits);
        EXPECT_EQ(dataCapacity, kRegBufferUnits);
    }
}

TEST(SerialCommEnumeration, AnErrorOtherThanTheEndEmptiesTheList) {
    FakeSerialComm fake{true, {"COM1", "COM2", "COM3"}, 2, {}};
    StringDeque list;
    EXPECT_FALSE(ListSerialCommPorts(fake.Source(), list));
    EXPECT_TRUE(list.empty());
}

TEST(SerialCommEnumeration, DataWithoutTerminatorIsReadOnlyAsFarAsReturned) {
    SerialCommSource source;
    source.openKey = [] { return true; };
    source.enumValue = [](uint32_t index, char* name, uint32_t* nameLength, uint8_t* data,
                          uint32_t* dataLength) {
        if (index > 0) {
            return kRegNoMoreItems;
        }
        name[0] = 'x';
        *nameLength = 1;
        std::memset(data, 'A', *dataLength);  // the whole buffer, no terminator
        data[0] = 'C';
        *dataLength = 4;  // only "CAAA" was returned
        return kRegSuccess;
    };
    StringDeque list;
    ASSERT_TRUE(ListSerialCommPorts(source, list));
    EXPECT_EQ(list, StringDeque({"CAAA"}));
}

// A made-up /sys/class/tty: each entry a directory, with a device and driver where given.
class TtyClassTree : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("lct-tty-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    void Add(const std::string& name, bool withDriver, const char* type = nullptr) const {
        fs::create_directories(root / name);
        if (withDriver) {
            fs::create_directories(root / name / "device" / "driver");
        }
        if (type != nullptr) {
            std::ofstream(root / name / "type") << type << "\n";
        }
    }

    fs::path root;
};

TEST_F(TtyClassTree, ListsRealSerialDevicesInNaturalOrderWithTheFirstTwoLegacyPortsFirst) {
    Add("tty", false);
    Add("tty0", false);
    Add("console", false);
    Add("ptmx", false);
    Add("ttyUSB10", true);
    Add("ttyUSB2", true);
    Add("ttyACM0", true);
    Add("ttyS1", true, "4");
    Add("ttyS0", true, "4");
    Add("ttyS2", true, "0");  // placeholder: no UART behind it
    Add("ttyS3", true, "0");
    Add("ttyS10", true, "4");  // a real one with a higher number keeps its natural place
    Add("ttyS4", false, "4");  // no driver bound
    Add("ttyAMA0", true);
    StringDeque list = {"stale"};
    ASSERT_TRUE(ListTtyDevices(root.string(), list));
    EXPECT_EQ(list, StringDeque({"ttyS0", "ttyS1", "ttyACM0", "ttyAMA0", "ttyS10", "ttyUSB2", "ttyUSB10"}));
}

TEST_F(TtyClassTree, WithoutTheFirstLegacyPortsTheRestKeepNaturalOrder) {
    Add("ttyS1", true, "0");
    Add("ttyUSB1", true);
    Add("ttyUSB0", true);
    StringDeque list;
    ASSERT_TRUE(ListTtyDevices(root.string(), list));
    EXPECT_EQ(list, StringDeque({"ttyUSB0", "ttyUSB1"}));
}

TEST_F(TtyClassTree, AnEmptyTreeGivesAnEmptyListAndAMissingOneFails) {
    StringDeque list = {"stale"};
    EXPECT_TRUE(ListTtyDevices(root.string(), list));
    EXPECT_TRUE(list.empty());
    list = {"stale"};
    EXPECT_FALSE(ListTtyDevices((root / "missing").string(), list));
    EXPECT_TRUE(list.empty());
}

TEST(PortNameOrder, NumbersCompareByValue) {
    StringDeque names = {"ttyUSB10", "ttyS1", "ttyUSB9", "ttyUSB009", "ttyS0",
                         "ttyACM1",  "ttyS",  "tty1a2",  "tty1a10"};
    SortPortNames(names);
    EXPECT_EQ(names, StringDeque({"ttyS0", "ttyS1", "tty1a2", "tty1a10", "ttyACM1", "ttyS", "ttyUSB009",
                                  "ttyUSB9", "ttyUSB10"}));
}

TEST(PortList, ListingThisMachineSucceedsWithNamesWithoutPrefix) {
    StringDeque list;
    ASSERT_TRUE(ListSerialPorts(list));
    for (const std::string& name : list) {
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
    }
}

}  // namespace
