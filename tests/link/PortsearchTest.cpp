#include <gtest/gtest.h>

#include <set>

#include "link/Portsearch.h"
#include "support/FakeClock.h"

namespace {

const std::vector<uint32_t> kRates = {4800, 9600, 19200, 38400};

// The search's surroundings: devices that open or not, and a receiver that answers (or not)
// at one device and rate.
struct Bench : PortSearchHost {
    std::set<std::string> unopenable;
    std::string answeringDevice;
    uint32_t answeringRate = 0;
    int32_t answerId = 216;

    // "device@rate" of every candidate opened, "!device" of each failure, "~device" of each
    // line whose rate cannot be searched
    std::vector<std::string> tried;
    std::vector<std::string> refusals;
    std::string open;  // the candidate the port is open at, if any
    int32_t messages = 0;
    int32_t lastId = 0;
    bool answerPending = false;  // the reply to a probe arrives after it, not during the write
    int stopped = 0;
    int found = -1;
    int notFound = 0;

    bool OpenCandidate(const std::string& device, uint32_t rate) override {
        open.clear();
        if (unopenable.count(device) != 0) {
            return false;
        }
        open = device + "@" + std::to_string(rate);
        return true;
    }
    void CandidateOpenFailed(const std::string& device) override { tried.push_back("!" + device); }
    void CandidateRateRefused(const std::string& device, const std::string& refusal) override {
        tried.push_back("~" + device);
        refusals.push_back(refusal);
    }
    void CandidateOpened(int, int) override { tried.push_back(open); }
    void SendProbe() override {
        answerPending = open == answeringDevice + "@" + std::to_string(answeringRate);
    }
    void DeliverAnswer() {
        if (answerPending) {
            ++messages;
            lastId = answerId;
            answerPending = false;
        }
    }
    int32_t MessageCount() override { return messages; }
    int32_t LastMessageId() override { return lastId; }
    void SearchStopped() override { ++stopped; }
    void ReceiverFound(int rateIndex) override { found = rateIndex; }
    void ReceiverNotFound() override { ++notFound; }
};

// Ticks every 100 ms of fake time until the search ends, at most a bounded number of ticks.
void RunToEnd(PortSearch& search, Bench& bench, testsupport::FakeClock& clock) {
    for (int tick = 0; tick < 10'000 && search.Searching(); ++tick) {
        clock.SleepMs(100);
        bench.DeliverAnswer();
        search.Tick();
    }
}

struct OrderCase {
    const char* legend;
    bool deviceFixed;
    bool rateFixed;
    int deviceIndex;
    int rateIndex;
    std::vector<std::string> expected;
};

class CandidateOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CandidateOrder, TriesTheCandidatesInOrderThenGivesUp) {
    const OrderCase& c = GetParam();
    testsupport::FakeClock clock;
    Bench bench;
    PortSearch search(bench, clock);
    search.Start({"COM1", "COM2", "COM4"}, kRates, c.deviceFixed, c.rateFixed, c.deviceIndex, c.rateIndex);
    RunToEnd(search, bench, clock);
    EXPECT_EQ(bench.tried, c.expected) << c.legend;
    EXPECT_EQ(bench.notFound, 1);
    EXPECT_EQ(bench.found, -1);
    EXPECT_FALSE(search.Searching());
}

INSTANTIATE_TEST_SUITE_P(
    Table, CandidateOrder,
    ::testing::Values(
        OrderCase{"auto device, auto rate",
                  false,
                  false,
                  0,
                  0,
                  {"COM1@4800", "COM1@9600", "COM1@19200", "COM1@38400", "COM2@4800", "COM2@9600",
                   "COM2@19200", "COM2@38400", "COM4@4800", "COM4@9600", "COM4@19200", "COM4@38400"}},
        OrderCase{"auto device, fixed rate", false, true, 0, 2, {"COM1@19200", "COM2@19200", "COM4@19200"}},
        OrderCase{"fixed device, auto rate",
                  true,
                  false,
                  1,
                  0,
                  {"COM2@4800", "COM2@9600", "COM2@19200", "COM2@38400"}}));

TEST(PortSearch, FindsTheReceiverAndStopsThere) {
    testsupport::FakeClock clock;
    Bench bench;
    bench.answeringDevice = "COM2";
    bench.answeringRate = 19200;
    PortSearch search(bench, clock);
    search.Start({"COM1", "COM2"}, kRates, false, false, 0, 0);
    RunToEnd(search, bench, clock);
    EXPECT_EQ(bench.found, 2);
    EXPECT_EQ(bench.tried.back(), "COM2@19200");
    EXPECT_EQ(bench.open, "COM2@19200");  // the port stays open at the found candidate
    EXPECT_EQ(search.DeviceIndex(), 1);
    EXPECT_EQ(bench.notFound, 0);
}

TEST(PortSearch, AnswersEndingInId255DoNotCount) {
    testsupport::FakeClock clock;
    Bench bench;
    bench.answeringDevice = "COM1";
    bench.answeringRate = 4800;
    bench.answerId = 255;
    PortSearch search(bench, clock);
    search.Start({"COM1"}, kRates, false, false, 0, 0);
    RunToEnd(search, bench, clock);
    EXPECT_EQ(bench.found, -1);
    EXPECT_EQ(bench.notFound, 1);
}

TEST(PortSearch, WaitsAtLeastOneWholeSecondStepBeforeJudging) {
    testsupport::FakeClock clock;
    Bench bench;
    PortSearch search(bench, clock);
    search.Start({"COM1"}, kRates, true, true, 0, 0);
    clock.AdvanceSeconds(1);
    search.Tick();
    EXPECT_TRUE(search.Searching());
    clock.AdvanceSeconds(1);
    search.Tick();
    EXPECT_FALSE(search.Searching());
    EXPECT_EQ(bench.notFound, 1);
}

struct UnopenableCase {
    const char* legend;
    std::set<std::string> unopenable;
    bool deviceFixed;
    bool rateFixed;
    int deviceIndex;
    std::vector<std::string> expected;
    int found;  // rate index, -1: "Failed to find unit."
};

void PrintTo(const UnopenableCase& c, std::ostream* out) {
    *out << c.legend;
}

class Unopenable : public ::testing::TestWithParam<UnopenableCase> {};

// A device that cannot be opened is reported once and the search goes on with the next
// device; it ends with a verdict even when no candidate could be opened at all.
TEST_P(Unopenable, IsReportedAndSkipped) {
    const UnopenableCase& c = GetParam();
    testsupport::FakeClock clock;
    Bench bench;
    bench.unopenable = c.unopenable;
    bench.answeringDevice = "COM4";
    bench.answeringRate = 9600;
    PortSearch search(bench, clock);
    search.Start({"COM1", "COM2", "COM4"}, kRates, c.deviceFixed, c.rateFixed, c.deviceIndex,
                 c.rateFixed ? 2 : 0);
    RunToEnd(search, bench, clock);
    EXPECT_EQ(bench.tried, c.expected) << c.legend;
    EXPECT_EQ(bench.found, c.found) << c.legend;
    EXPECT_EQ(bench.notFound, c.found < 0 ? 1 : 0) << c.legend;
    EXPECT_FALSE(search.Searching());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Unopenable,
    ::testing::Values(
        UnopenableCase{
            "middle device, fixed rate", {"COM2"}, false, true, 0, {"COM1@19200", "!COM2", "COM4@19200"}, -1},
        UnopenableCase{
            "first device, auto rate, found after it",
            {"COM1"},
            false,
            false,
            0,
            {"!COM1", "COM2@4800", "COM2@9600", "COM2@19200", "COM2@38400", "COM4@4800", "COM4@9600"},
            1},
        UnopenableCase{
            "every device", {"COM1", "COM2", "COM4"}, false, false, 0, {"!COM1", "!COM2", "!COM4"}, -1},
        UnopenableCase{"the fixed device", {"COM2"}, true, false, 1, {"!COM2"}, -1}));

// A line of fixed rate is asked before anything is opened: a search over rates skips it with
// its own refusal (and a search of it alone ends there, without a verdict), while a search at
// one rate uses it.
TEST(PortSearch, ALineOfFixedRateIsNotSearchedOverRates) {
    const struct {
        const char* legend;
        std::vector<std::string> devices;
        bool deviceFixed;
        bool rateFixed;
        std::vector<std::string> expected;
        int notFound;
    } rows[] = {
        {"among others",
         {"COM1", "tcp://h:1", "COM4"},
         false,
         false,
         {"COM1@4800", "COM1@9600", "COM1@19200", "COM1@38400", "~tcp://h:1", "COM4@4800", "COM4@9600",
          "COM4@19200", "COM4@38400"},
         1},
        {"alone", {"tcp://h:1"}, true, false, {"~tcp://h:1"}, 0},
        {"at one rate", {"tcp://h:1"}, true, true, {"tcp://h:1@19200"}, 1},
    };
    for (const auto& row : rows) {
        testsupport::FakeClock clock;
        Bench bench;
        PortSearch search(bench, clock);
        search.Start(row.devices, kRates, row.deviceFixed, row.rateFixed, 0, row.rateFixed ? 2 : 0);
        RunToEnd(search, bench, clock);
        EXPECT_EQ(bench.tried, row.expected) << row.legend;
        EXPECT_EQ(bench.notFound, row.notFound) << row.legend;
        EXPECT_FALSE(search.Searching()) << row.legend;
        for (const std::string& refusal : bench.refusals) {
            EXPECT_NE(refusal.find("has a fixed rate"), std::string::npos) << row.legend;
        }
    }
}

TEST(PortSearch, StopEndsWithoutAVerdictAndLeavesTheCandidateOpen) {
    testsupport::FakeClock clock;
    Bench bench;
    PortSearch search(bench, clock);
    search.Start({"COM1", "COM2"}, kRates, false, false, 0, 0);
    clock.AdvanceSeconds(2);
    search.Tick();  // on to COM1@9600
    search.Stop();
    EXPECT_FALSE(search.Searching());
    EXPECT_EQ(bench.open, "COM1@9600");
    EXPECT_EQ(bench.notFound, 0);
    EXPECT_EQ(bench.found, -1);
    search.Tick();
    EXPECT_EQ(bench.tried.size(), 2u);
}

TEST(PortSearch, StartingAgainRestartsFromTheFirstCandidate) {
    testsupport::FakeClock clock;
    Bench bench;
    PortSearch search(bench, clock);
    search.Start({"COM1", "COM2"}, kRates, false, false, 0, 0);
    clock.AdvanceSeconds(2);
    search.Tick();
    search.Start({"COM1", "COM2"}, kRates, false, false, 0, 0);
    EXPECT_EQ(bench.tried, (std::vector<std::string>{"COM1@4800", "COM1@9600", "COM1@4800"}));
}

}  // namespace
