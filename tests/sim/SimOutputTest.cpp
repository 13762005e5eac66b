// What the receiver sends unasked, and its record of everything on the line.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "SimHarness.h"
#include "sim/Nmeasource.h"

namespace {

class SimOutputTest : public ::testing::Test {
  protected:
    void StartSim(SimOptions options) {
        sim_ = std::make_unique<SimReceiver>(std::move(options));
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(link_.Open(sim_->DevicePath(), sim_->LineBaud()));
    }
    void StartSim(uint32_t mask, uint8_t rate = 1) {
        SimOptions options = FastOptions();
        options.settings.nmeaMask = mask;
        options.settings.nmeaRate = rate;
        StartSim(options);
    }

    std::unique_ptr<SimReceiver> sim_;
    SimLink link_;
};

// "$" body "*" hh CR LF, with hh the XOR of the body.
bool ChecksumHolds(const std::string& line) {
    const size_t star = line.find('*');
    if (line.size() < 6 || line[0] != '$' || star == std::string::npos || line.substr(star + 3) != "\r\n") {
        return false;
    }
    unsigned stated = 0;
    std::sscanf(line.c_str() + star + 1, "%2X", &stated);
    return stated == NmeaChecksum(line.substr(1, star - 1));
}

std::string Name(const std::string& line) {
    return line.substr(0, line.find(','));
}

TEST_F(SimOutputTest, MaskSelectsExactlyItsSentencesWithGoodChecksums) {
    struct Row {
        uint32_t mask;
        std::set<std::string> names;
    };
    const Row rows[] = {
        {config::kMaskGGA, {"$GPGGA"}},
        {config::kMaskGSA, {"$GPGSA"}},
        {config::kMaskZDA, {"$GPZDA"}},
        {config::kMaskVTG, {"$GPVTG"}},
        {config::kMaskRMC, {"$GPRMC"}},
        {config::kMaskSNR, {"$PNSNR"}},
        {0x3F, {"$GPGGA", "$GPGSA", "$GPZDA", "$GPVTG", "$GPRMC", "$PNSNR"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mask);
        StartSim(row.mask);
        link_.Collect(350);
        std::set<std::string> seen;
        for (const std::string& line : link_.lines) {
            EXPECT_TRUE(ChecksumHolds(line)) << line;
            seen.insert(Name(line));
        }
        EXPECT_EQ(seen, row.names);
        EXPECT_TRUE(link_.frames.empty());
        sim_->Stop();
    }
}

TEST_F(SimOutputTest, SnrSentenceCarriesFiveFieldsInRange) {
    StartSim(config::kMaskSNR);
    link_.Collect(250);
    ASSERT_FALSE(link_.lines.empty());
    int accuracy = -1;
    double correction = 0;
    double l1 = 0;
    double l2 = 0;
    int backup = -1;
    ASSERT_EQ(std::sscanf(link_.lines[0].c_str(), "$PNSNR,%d,%lf,%lf,%lf,%d*", &accuracy, &correction, &l1,
                          &l2, &backup),
              5)
        << link_.lines[0];
    EXPECT_GE(accuracy, 0);
    EXPECT_LE(accuracy, 100);
    EXPECT_GT(l1, 0);
    EXPECT_GE(backup, 0);
}

TEST_F(SimOutputTest, PositionMovesBetweenFixes) {
    const NmeaFix a = NmeaSource::FixAt(0);
    const NmeaFix b = NmeaSource::FixAt(10);
    const double northM = (b.latitudeDeg - a.latitudeDeg) * 111320.0;
    EXPECT_NE(a.latitudeDeg, b.latitudeDeg);
    EXPECT_NE(a.longitudeDeg, b.longitudeDeg);
    EXPECT_LT(std::abs(northM), 10 * a.speedMps + 1) << "no faster than it says it drives";
    StartSim(config::kMaskGGA);
    link_.Collect(450);
    std::set<std::string> positions;
    for (const std::string& line : link_.lines) {
        positions.insert(line.substr(17, 25));  // latitude and longitude fields
    }
    EXPECT_GT(positions.size(), 1u);
}

TEST_F(SimOutputTest, FiveHertzSendsMoreOftenThanOne) {
    StartSim(config::kMaskGGA, 1);
    link_.Collect(600);
    const size_t slow = link_.lines.size();
    sim_->Stop();
    StartSim(config::kMaskGGA, 5);
    link_.Collect(600);
    EXPECT_GT(link_.lines.size(), 2 * slow);
}

TEST_F(SimOutputTest, EmptyMaskSendsOwnStatusFramesInstead) {
    StartSim(0);
    link_.Collect(350);
    EXPECT_TRUE(link_.lines.empty() || link_.lines[0].find("$GP") == std::string::npos);
    ASSERT_FALSE(link_.frames.empty());
    for (const Bytes& f : link_.frames) {
        EXPECT_EQ(FrameId(f), kSimStatusId);
    }
}

// What the program received is what the record says was sent, no more and no less.
TEST_F(SimOutputTest, RecordHoldsEverySentenceAndFrameInOrder) {
    // Silent until the port is open, so that nothing is sent before anyone listens.
    SimOptions options = FastOptions();
    options.settings.nmeaMask = config::kMaskGGA | config::kMaskRMC | config::kMaskSNR;
    options.settings.nmeaRate = 5;
    options.faults.silent = true;
    StartSim(options);
    sim_->SetFaults({});
    for (int i = 0; i < 5; ++i) {
        link_.Send(RequestFrame(msgid::kConfig));
        link_.Collect(40);
    }
    SimFaults quiet;
    quiet.silent = true;
    sim_->SetFaults(quiet);
    link_.Collect(200);
    std::vector<std::string> sentSentences;
    std::vector<Bytes> sentFrames;
    int received = 0;
    for (const SimRecordEntry& e : sim_->Record()) {
        EXPECT_FALSE(e.damaged);
        if (e.direction == SimDirection::kReceived) {
            ++received;
        } else if (e.kind == SimKind::kSentence) {
            sentSentences.emplace_back(e.bytes.begin(), e.bytes.end());
        } else {
            sentFrames.push_back(e.bytes);
        }
    }
    EXPECT_EQ(received, 5);
    EXPECT_EQ(sentFrames.size(), 5u);
    // A sentence right after a frame shares its line with the frame's bytes: the line
    // framer does not know frames. The sentence is the line from its "$".
    std::vector<std::string> receivedSentences;
    for (const std::string& line : link_.lines) {
        receivedSentences.push_back(line.substr(line.rfind('$')));
    }
    EXPECT_EQ(receivedSentences, sentSentences);
    EXPECT_EQ(link_.frames, sentFrames);
}

TEST_F(SimOutputTest, RecordFileHasOneReadableLinePerEntry) {
    const std::string path = ::testing::TempDir() + "sim_record.txt";
    SimOptions options = FastOptions();
    options.settings.nmeaMask = config::kMaskGGA;
    options.recordPath = path;
    StartSim(options);
    link_.Send(RequestFrame(msgid::kConfig));
    ASSERT_TRUE(link_.AwaitFrameId(msgid::kConfig));
    // A sentence goes out every 100 ms; wait (bounded) until one has arrived.
    const auto sawGga = [this] {
        return std::any_of(link_.lines.begin(), link_.lines.end(),
                           [](const std::string& l) { return l.rfind("$GPGGA,", 0) == 0; });
    };
    for (int i = 0; i < 60 && !sawGga(); ++i) {
        link_.Collect(50);
    }
    sim_->Stop();
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find(" RX FRAME 02 99 66 10 08 00 D8 06 00 00 C6 03\n"), std::string::npos);
    EXPECT_NE(text.str().find(" TX FRAME 02 99 66 D8 52 00 "), std::string::npos);
    EXPECT_NE(text.str().find(" TX SENTENCE $GPGGA,"), std::string::npos) << text.str();
    size_t lines = 0;
    for (char c : text.str()) {
        lines += c == '\n';
    }
    EXPECT_EQ(lines, sim_->Record().size());
    std::remove(path.c_str());
}

}  // namespace
