// The setup file: written and read back, and refused whole, key named, for anything the
// receiver or the dialog would not take; the JSON beneath it refused where it is malformed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/Json.h"
#include "config/Setupfile.h"

namespace {

ApplyControls SomeControls() {
    ApplyControls c;
    c.nmeaMask = config::kMaskGGA | config::kMaskSNR;
    c.baudRate = 38400;
    c.nmeaRate = 5;
    c.heightText = "80";
    c.foreAftText = "7";
    c.altDown = true;
    c.channelText = "1545.5";
    c.waasOnDown = false;
    c.correctionsOnDown = true;
    c.tcmOnDown = true;
    c.forwardDown = false;
    return c;
}

std::string Written(const ApplyControls& c) {
    std::string error;
    const auto text = WriteSetupFile(c, "2.5ab", 1'765'290'000, error);
    EXPECT_TRUE(text) << error;
    return text.value_or("");
}

// The written file with one piece of text replaced.
std::string Edited(const std::string& from, const std::string& to) {
    std::string text = Written(SomeControls());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Setupfile, WritesWhatTheDialogAppliesAndReadsItBack) {
    const std::string text = Written(SomeControls());
    EXPECT_NE(text.find("\"receiver_software\": \"2.5ab\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"saved\": \"2025-12-09T14:20:00Z\""), std::string::npos) << text;
    const SetupRead read = ReadSetupFile(text);
    ASSERT_TRUE(read.file) << read.error;
    EXPECT_EQ(read.file->receiverSoftware, "2.5ab");
    EXPECT_TRUE(SetupChanges(SomeControls(), read.file->controls).empty());
    ApplyControls other = SomeControls();
    other.heightText = "60";
    other.altDown = false;
    EXPECT_EQ(SetupChanges(SomeControls(), other),
              (std::vector<std::string>{"frequency: 1545.5 -> default", "height: 80 -> 60"}));

    // What Apply would refuse is not saved either, with the dialog's message.
    ApplyControls bad = SomeControls();
    bad.heightText = "0";
    std::string error;
    EXPECT_FALSE(WriteSetupFile(bad, "", 0, error));
    EXPECT_EQ(error, kHeightMessage);
    // Nor what could not be read back.
    bad = SomeControls();
    bad.channelText = "1500";
    EXPECT_FALSE(WriteSetupFile(bad, "", 0, error));
    EXPECT_EQ(error, "settings.frequency: 1500 is out of range (1525 to 1560 MHz)");
}

// Read from disk: a byte-order mark is skipped, and a file that gives nothing to read says why.
TEST(Setupfile, ReadsAFileOrSaysWhyNot) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("lct-setupfile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct Case {
        const char* legend;
        const char* name;
        std::optional<std::string> text;  // nothing: the file is not there
        std::string message;              // empty: read
    };
    const std::string sound = Written(SomeControls());
    const Case cases[] = {
        {"plain", "a.json", sound, ""},
        {"with a byte-order mark", "b.json", "\xEF\xBB\xBF" + sound, ""},
        {"missing", "c.json", std::nullopt, "Error reading setup file c.json: No such file or directory"},
        {"empty", "d.json", "", "Error reading setup file d.json: it is empty"},
        {"a mark and blanks only", "e.json", "\xEF\xBB\xBF \r\n",
         "Error reading setup file e.json: it is empty"},
        {"a folder", ".", std::nullopt, "Error reading setup file .: it is a folder"},
        {"refused", "f.json", "[]", "Setup file f.json refused: the file: expected an object, not a list"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path path = folder / c.name;
        if (c.text) {
            std::ofstream(path, std::ios::binary) << *c.text;
        }
        const SetupRead read = ReadSetupFileFrom(path.string());
        EXPECT_EQ(read.file.has_value(), c.message.empty()) << c.legend;
        if (!read.file) {
            EXPECT_EQ(SetupReadMessage(read, c.name), c.message) << c.legend;
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(Setupfile, RefusesTheWholeFileNamingTheKey) {
    struct Case {
        std::string text;
        const char* complaint;
    };
    const Case cases[] = {
        {Edited("\"rate\": 5,", "\"rate\": 5, \"speed\": 3,"), "settings.speed: unknown key"},
        {Edited("\"format_version\": 1,", "\"format_version\": 1, \"extra\": 0,"), "extra: unknown key"},
        {Edited("\"height\": 80", "\"height\": 250"), "settings.height: 250 is out of range (1 to 200)"},
        {Edited("\"height\": 80", "\"height\": \"80\""), "settings.height: expected a number, not a string"},
        {Edited("\"height\": 80", "\"height\": 80.5"),
         "settings.height: 80.5 is not a whole number (1 to 200)"},
        {Edited("\"foreaft\": 7", "\"foreaft\": 0"), "settings.foreaft: 0 is out of range"},
        {Edited("\"baud\": 38400", "\"baud\": 115200"),
         "settings.baud: 115200 is not a rate the receiver takes"},
        {Edited("\"rate\": 5", "\"rate\": 2"), "settings.rate: 2 is not a rate the receiver takes (1 or 5)"},
        {Edited("\"rate\": 5", "\"rate\": 7"), "settings.rate: 7 is not a rate the receiver takes (1 or 5)"},
        {Edited("\"baud\": 38400", "\"baud\": -1"),
         "settings.baud: -1 is not a rate the receiver takes (4800, 9600, 19200, 38400)"},
        {Edited("\"waas\": false", "\"waas\": 0"), "settings.waas: expected true or false, not a number"},
        {Edited("\"GGA\"", "\"GLL\""), "settings.nmea: unknown sentence \"GLL\""},
        {Edited("\"frequency\": 1545.5", "\"frequency\": \"alt\""),
         "settings.frequency: expected \"default\""},
        {Edited("\"frequency\": 1545.5", "\"frequency\": 1e300"),
         "settings.frequency: 1e300 is out of range (1525 to 1560 MHz)"},
        {Edited("\"frequency\": 1545.5", "\"frequency\": -1"),
         "settings.frequency: -1 is out of range (1525 to 1560 MHz)"},
        {Edited("\"frequency\": 1545.5", "\"frequency\": 0"),
         "settings.frequency: 0 is out of range (1525 to 1560 MHz)"},
        {Edited("\"direction\": \"backward\"", "\"direction\": \"up\""), "settings.direction: expected"},
        {Edited("    \"tcm\": true,\n", ""), "settings.tcm: missing"},
        {Edited("\"format_version\": 1", "\"format_version\": 2"), "format_version: version 2 is newer"},
        {Edited("lctrovi-setup", "other"), "format: not a receiver setup file"},
        {Edited("\"rate\": 5,", "\"rate\": 5, \"rate\": 1,"),
         "line 8, column 16: the key \"rate\" appears twice"},
        {"[1, 2]", "the file: expected an object, not a list"},
    };
    for (const Case& c : cases) {
        const SetupRead read = ReadSetupFile(c.text);
        EXPECT_FALSE(read.file) << c.complaint;
        EXPECT_NE(read.error.find(c.complaint), std::string::npos) << read.error;
    }
}

TEST(Json, RefusesMalformedTextWithItsPlace) {
    struct Case {
        const char* text;
        const char* complaint;  // nullptr: accepted
    };
    const Case cases[] = {
        {R"({"a": [1, -2.5e3, true, false, null, "\u00e9\ud83d\ude00\n"]})", nullptr},
        {"", "line 1, column 1: unexpected end"},
        {"{\"a\": 1,}", "expected a key"},
        {"{\"a\" 1}", "expected ':'"},
        {"[01]", "malformed number"},
        {"[1.]", "malformed number"},
        {"[1e999]", "number out of range"},
        {"[\"\\ud800\"]", "lone surrogate"},
        {"[\"a\tb\"]", "control character"},
        {"[\"\\x\"]", "unknown escape"},
        {"[\"abc", "without its closing quote"},
        {"{} {}", "unexpected text after the end"},
        {"[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]", "nested too deeply"},
        {"{\n  \"a\": tru\n}", "line 2, column 8: expected a value"},
    };
    for (const Case& c : cases) {
        const JsonParse parsed = ParseJson(c.text);
        if (c.complaint == nullptr) {
            ASSERT_TRUE(parsed.value) << parsed.error;
            EXPECT_EQ(parsed.value->Find("a")->items[5].text, "\xC3\xA9\xF0\x9F\x98\x80\n");
            EXPECT_FALSE(parsed.value->Find("a")->items[1].IsWholeNumber());
        } else {
            EXPECT_FALSE(parsed.value) << c.text;
            EXPECT_NE(parsed.error.find(c.complaint), std::string::npos) << c.text << " -> " << parsed.error;
        }
    }
    EXPECT_NE(ParseJson(std::string(kJsonMaxBytes + 1, ' ')).error.find("larger than"), std::string::npos);
}
}  // namespace
