// The programming sequence against a scripted bootloader across a real pseudo-terminal, with
// the fake clock: every wait and time-out of a load runs in milliseconds of real time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BootPeer.h"
#include "LoaderFakeClock.h"
#include "SrecText.h"
#include "loader/Loadsequence.h"
#include "proto/Frame.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Chunks = std::vector<std::pair<uint32_t, Bytes>>;

class TestHost final : public LoaderHost {
  public:
    TestHost(PtyPort& port, std::string path) : port_(port), path_(std::move(path)) {}

    LoaderPort& Port() override { return port_; }
    void ShowStatus(const std::string& text) override {
        statuses.push_back(text);
        if (!stopAtStatus.empty() && text.rfind(stopAtStatus, 0) == 0) {
            stop = true;
        }
    }
    void ShowProgress(int32_t handled, int32_t estimate) override {
        progressHandled = handled;
        progressEstimate = estimate;
        progressShown.push_back(handled);
    }
    bool ReopenPort(uint32_t baud) override {
        reopens.push_back(baud);
        if (static_cast<int>(reopens.size()) == failReopenAt) {
            return port_.Open(path_ + "-unplugged", baud);  // fails as for a vanished device
        }
        if (!port_.Open(path_, baud)) {
            return false;
        }
        baud_ = baud;
        return true;
    }
    uint32_t CurrentBaud() const override { return baud_; }
    void RequestVersion() override {
        uint8_t frame[request::kFrameLength];
        build_request_frame(msgid::kConfig, request::kStandardMode, 0, frame);
        port_.Write(frame, sizeof frame);
        deviceGone = deviceGone || ++versionRequests == goneAtVersionRequest;
    }
    void UpdateVersionLabel(const ReceiverVersion& version) override { versions.push_back(version); }
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour) override {
        panelLines = lines;
        panelColour = colour;
    }
    bool DeviceGone() override { return deviceGone; }
    bool StopRequested() override { return stop; }
    bool KeepWaitingWhileProgramming() override {
        ++keepWaitingAsked;
        if (stopsToForget > 0) {
            --stopsToForget;
            stop = false;
            return true;
        }
        return false;
    }
    void EndSequence() override {
        ++ends;
        if (baud_ == LoadSequence::kFastBaud) {
            ReopenPort(LoadSequence::kBootBaud);
        }
    }

    void SetBaud(uint32_t baud) { baud_ = baud; }

    std::vector<std::string> statuses;
    std::vector<uint32_t> reopens;
    std::vector<ReceiverVersion> versions;
    std::array<std::string, 3> panelLines;
    PanelColour panelColour = PanelColour::kRed;
    int32_t progressHandled = 0;
    int32_t progressEstimate = 0;
    std::vector<int32_t> progressShown;
    int versionRequests = 0;
    int ends = 0;
    int failReopenAt = 0;
    int goneAtVersionRequest = 0;
    std::atomic<bool> deviceGone{false};
    std::string stopAtStatus;  // the user asks to stop as a status beginning so shows
    std::atomic<bool> stop{false};
    int stopsToForget = 0;  // stop requests during programming that only warn
    int keepWaitingAsked = 0;

  private:
    PtyPort& port_;
    std::string path_;
    uint32_t baud_ = LoadSequence::kBootBaud;
};

// Everything one load needs: fake clock, bootloader, port, host and the sequence.
class Rig {
  public:
    Rig() : scoped_(&clock), peer(clock), port(peer, clock), host(port, peer.SlavePath()), sequence(host) {
        char pattern[] = "/tmp/lct-load-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            dir_ = pattern;
        }
        opened_ = !peer.SlavePath().empty() && port.Open(peer.SlavePath(), LoadSequence::kBootBaud);
    }
    ~Rig() {
        if (!dir_.empty()) {
            std::system(("rm -rf '" + dir_ + "'").c_str());
        }
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    bool Ready() const { return opened_ && !dir_.empty(); }

    // Runs a whole sequence over the text as the image file; false if it did not end.
    bool Load(const std::string& text) {
        const std::string path = dir_ + "/image" + std::to_string(files_++) + ".hex";
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            return false;
        }
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        sequence.Start(std::fopen(path.c_str(), "rb"));
        for (int tick = 0; tick < 100000 && sequence.Running(); ++tick) {
            sequence.Tick();
        }
        return !sequence.Running();
    }

    // Runs a whole sequence over the text held in memory; false if it did not end.
    bool LoadFromMemory(const std::string& text) {
        sequence.Start(std::string_view(text));
        for (int tick = 0; tick < 100000 && sequence.Running(); ++tick) {
            sequence.Tick();
        }
        return !sequence.Running();
    }

    std::string LastStatus() const { return host.statuses.empty() ? "" : host.statuses.back(); }
    // Every status shown, for a failure's message.
    std::string Shown() const {
        std::string all;
        for (const auto& text : host.statuses) {
            all += text + " | ";
        }
        return all;
    }
    bool Saw(const std::string& text) const {
        return std::find(host.statuses.begin(), host.statuses.end(), text) != host.statuses.end();
    }
    // The texts appear in this order (others may stand between them).
    bool SawInOrder(const std::vector<std::string>& texts) const {
        auto at = host.statuses.begin();
        for (const auto& text : texts) {
            at = std::find(at, host.statuses.end(), text);
            if (at == host.statuses.end()) {
                return false;
            }
            ++at;
        }
        return true;
    }
    int Sent(uint8_t code) {
        const auto commands = peer.Commands();
        return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                              [code](const PeerCommand& c) { return c.code == code; }));
    }

    LoaderFakeClock clock;

  private:
    ScopedClock scoped_;

  public:
    BootPeer peer;
    PtyPort port;
    TestHost host;
    LoadSequence sequence;

  private:
    std::string dir_;
    int files_ = 0;
    bool opened_ = false;
};

Bytes RandomBytes(size_t n, uint32_t start) {
    std::mt19937 rng(start);
    Bytes bytes(n);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    return bytes;
}

// An image over several blocks: a full first block, a gap inside the second, a distant chunk.
Chunks SampleChunks(uint32_t randomStart = 7) {
    return {{0x08000000, RandomBytes(700, randomStart)},
            {0x08000300, RandomBytes(5, randomStart + 1)},
            {0x08000345, RandomBytes(40, randomStart + 2)},
            {0x08010013, RandomBytes(300, randomStart + 3)}};
}

std::map<uint32_t, uint8_t> ImageOf(const Chunks& chunks) {
    std::map<uint32_t, uint8_t> image;
    for (const auto& [address, data] : chunks) {
        for (size_t i = 0; i < data.size(); ++i) {
            image[address + static_cast<uint32_t>(i)] = data[i];
        }
    }
    return image;
}

// The receiver holds every byte of the image, and the erased value in every gap of a block.
void ExpectImage(BootPeer& peer, const Chunks& chunks) {
    const auto expected = ImageOf(chunks);
    size_t matched = 0;
    size_t wrong = 0;
    for (const auto& [address, byte] : peer.Image()) {
        const auto it = expected.find(address);
        if (it == expected.end()) {
            wrong += byte != 0xFF;
        } else {
            wrong += byte != it->second;
            ++matched;
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(matched, expected.size());
}

// Every byte of every block that the image does not hold must be the erased value.
void ExpectGapsErased(BootPeer& peer, const std::map<uint32_t, uint8_t>& image) {
    for (const auto& [address, bytes] : peer.Blocks()) {
        EXPECT_EQ(address % 256, 0u);
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (image.count(address + static_cast<uint32_t>(i)) == 0) {
                EXPECT_EQ(bytes[i], 0xFF) << "gap byte at " << address + i;
            }
        }
    }
}

const std::vector<std::string> kSuccess = {
    loadtext::kStarted,
    "Establishing Communication... 59",
    loadtext::kEstablished,
    loadtext::kReadingDone,
    loadtext::kSending,
    loadtext::kRequestCrc,
    "Returned CRC of download image is 0",
    loadtext::kStartProgramming,
    loadtext::kRequestCrc,
    loadtext::kCrcPassed,
    loadtext::kProgrammingDone,
    "Waiting for New Version Number... 59",
    "Communication Re-established. Ver # Rcvd.",
};

TEST(LoadSequence, WholeLoadPutsTheImageIntoTheReceiver) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks chunks = SampleChunks();
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\r\n")));
    EXPECT_TRUE(rig.SawInOrder(kSuccess));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
    ExpectGapsErased(rig.peer, ImageOf(chunks));
    EXPECT_EQ(rig.peer.Downloads(), 1);

    const auto commands = rig.peer.Commands();
    std::vector<uint8_t> codes;
    for (const auto& c : commands) {
        if (c.code != X1F_LOAD) {
            codes.push_back(c.code);
        }
        if (c.code == X1F_SETUP) {
            EXPECT_EQ(c.value, 0x08000000u);
        }
        if (c.code == X1F_CRCANY) {
            EXPECT_EQ(c.value, 0x08000000u);
            EXPECT_EQ(c.dataLength, 4);
        }
    }
    EXPECT_EQ(codes, (std::vector<uint8_t>{X1F_PING, X1F_SETBAUD, X1F_PING, X1F_SETUP, X1F_PING, X1F_CRCRAM,
                                           X1F_PROGRAM, X1F_CRCANY}));
    EXPECT_EQ(rig.Sent(X1F_LOAD), 6);  // blocks 0x000, 0x100, 0x200, 0x300, 0x10000 and 0x10100
    EXPECT_EQ(rig.host.reopens, (std::vector<uint32_t>{57600, 19200}));
    EXPECT_EQ(rig.host.panelColour, PanelColour::kBlue);
    EXPECT_EQ(rig.host.panelLines[2], "the Receiver is Re-established.");
    ASSERT_FALSE(rig.host.versions.empty());
    EXPECT_EQ(rig.host.versions.back().major, 0);
    EXPECT_EQ(rig.host.ends, 1);
    EXPECT_EQ(rig.host.progressEstimate, 258);  // the progress bar counts the 258 blocks spanned
    EXPECT_FALSE(rig.sequence.Running());
}

// The batch's way: the image text in memory, read by the sequence twice (scan, then blocks),
// programs exactly what the file would; a broken text stops before X1F_SETUP.
TEST(LoadSequence, AnImageInMemoryLoadsAsItsFileDoes) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks chunks = SampleChunks(11);
    ASSERT_TRUE(rig.LoadFromMemory(MakeSrecImage(chunks, "\n") + "S3 broken\n"));
    EXPECT_TRUE(rig.Saw(loadtext::kInputError));
    EXPECT_EQ(rig.LastStatus(), loadtext::kFailed);
    EXPECT_EQ(rig.Sent(X1F_SETUP), 0);

    rig.peer.EnterBootloader();  // as after any failed load, the technician restarts it
    ASSERT_TRUE(rig.LoadFromMemory(MakeSrecImage(chunks, "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
    EXPECT_EQ(rig.Sent(X1F_LOAD), 6);
}

TEST(LoadSequence, SendingCountsDownFromTheEstimate) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks chunks = {{0, RandomBytes(0x40000, 3)}};
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\n")));
    EXPECT_TRUE(rig.SawInOrder({"Sending File... (1000)", "Sending File... (900)", "Sending File... (100)",
                                "Sending File... (75)"}));
    ExpectImage(rig.peer, chunks);
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
}

TEST(LoadSequence, ProgressOfAnUnalignedImageEndsWithItsLastBlock) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks chunks = {{0x00020180, RandomBytes(3000, 9)}};  // up to 0x00020D37: 13 blocks
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    EXPECT_EQ(rig.Sent(X1F_LOAD), 13);
    EXPECT_EQ(rig.host.progressEstimate, 13);
    EXPECT_EQ(rig.host.progressHandled, 13);
    const auto& shown = rig.host.progressShown;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 13), 1) << "full only once the last block is sent";
}

const std::string kLostNoDevice = std::string(loadtext::kPortLost) + "No such file or directory";

struct FailureRow {
    FailureRow(const char* legend_, std::function<void(Rig&)> arrange_, std::vector<std::string> seen_,
               std::string last_, std::string image_ = {})
        : legend(legend_),
          arrange(std::move(arrange_)),
          seen(std::move(seen_)),
          last(std::move(last_)),
          image(std::move(image_)) {}
    const char* legend;
    std::function<void(Rig&)> arrange;
    std::vector<std::string> seen;  // in this order
    std::string last;
    std::string image;  // empty: the sample image
};

PeerAnswer NoAnswer() {
    return {};
}

BootPeer::Script Answer(uint8_t command, const std::optional<PeerAnswer>& answer, int nth = 0) {
    return [=](const PeerCommand& c) -> std::optional<PeerAnswer> {
        if (c.code == command && (nth == 0 || c.nth == nth)) {
            return answer;
        }
        return std::nullopt;
    };
}

PeerAnswer Code(uint8_t code, uint32_t value = 0) {
    return {PeerReply{code, value}};
}

void RunRows(const std::vector<FailureRow>& rows) {
    for (const auto& row : rows) {
        Rig rig;
        ASSERT_TRUE(rig.Ready()) << row.legend;
        if (row.arrange) {
            row.arrange(rig);
        }
        ASSERT_TRUE(rig.Load(row.image.empty() ? MakeSrecImage(SampleChunks(), "\r\n") : row.image))
            << row.legend;
        EXPECT_TRUE(rig.SawInOrder(row.seen)) << row.legend;
        EXPECT_EQ(rig.LastStatus(), row.last) << row.legend;
        EXPECT_EQ(rig.host.ends, 1) << row.legend;
        EXPECT_FALSE(rig.sequence.Running()) << row.legend;
        EXPECT_NE(rig.host.CurrentBaud(), LoadSequence::kFastBaud) << row.legend;
    }
}

TEST(LoadSequence, PortNotReady) {
    RunRows({
        {"port at 9600", [](Rig& r) { r.host.SetBaud(9600); }, {}, loadtext::kPortError},
        {"port closed", [](Rig& r) { r.port.Close(); }, {}, loadtext::kPortError},
    });
}

TEST(LoadSequence, TimeOuts) {
    RunRows({
        {"no answer to 60 probes",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PING, NoAnswer())); },
         {"Establishing Communication... 59", "Establishing Communication... 0"},
         loadtext::kTimeout},
        {"no answer after switching, 3 times",
         [](Rig& r) { r.peer.KeepBaud(); },
         {},
         loadtext::kTimeoutSetup},
        {"no answer to 10 announcements",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_SETUP, NoAnswer())); },
         {loadtext::kReadingDone},
         loadtext::kTimeout},
        {"no answer to a block",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_LOAD, NoAnswer(), 2)); },
         {loadtext::kSending},
         loadtext::kTimeoutData},
        {"no answer to the RAM check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCRAM, NoAnswer())); },
         {loadtext::kRequestCrc},
         loadtext::kTimeout},
        {"no answer to programming",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PROGRAM, NoAnswer())); },
         {loadtext::kStartProgramming},
         loadtext::kTimeoutProgram},
        {"no answer to the range check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCANY, NoAnswer())); },
         {loadtext::kStartProgramming, loadtext::kRequestCrc},
         loadtext::kTimeout},
        {"no configuration message within 60 requests",
         [](Rig& r) { r.peer.AnswerVersionFrom(0); },
         {"Waiting for New Version Number... 59", "Waiting for New Version Number... 0"},
         loadtext::kTimeoutVersion},
    });
}

TEST(LoadSequence, TimeOutCounts) {
    Rig probes;
    ASSERT_TRUE(probes.Ready());
    probes.peer.SetScript(Answer(X1F_PING, NoAnswer()));
    ASSERT_TRUE(probes.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(probes.Sent(X1F_PING), 60);

    Rig setups;
    ASSERT_TRUE(setups.Ready());
    setups.peer.KeepBaud();
    ASSERT_TRUE(setups.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(setups.Sent(X1F_SETBAUD), 3);
    EXPECT_EQ(setups.host.reopens, (std::vector<uint32_t>{57600, 19200, 57600, 19200, 57600, 19200}));

    Rig crc;
    ASSERT_TRUE(crc.Ready());
    crc.peer.SetScript(Answer(X1F_CRCRAM, NoAnswer()));
    ASSERT_TRUE(crc.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(crc.Sent(X1F_CRCRAM), 1);  // waited on, not repeated

    Rig version;
    ASSERT_TRUE(version.Ready());
    version.peer.AnswerVersionFrom(0);
    ASSERT_TRUE(version.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(version.host.versionRequests, 60);
}

TEST(LoadSequence, RefusalsFailTheLoad) {
    RunRows({
        {"X1F_FAIL to a probe",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PING, Code(X1F_FAIL))); },
         {},
         loadtext::kFailed},
        {"X1F_FAIL to the announcement",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_SETUP, Code(X1F_FAIL))); },
         {},
         loadtext::kFailed},
        {"X1F_FAIL to a block",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_LOAD, Code(X1F_FAIL), 2)); },
         {loadtext::kSending},
         loadtext::kFailed},
        {"X1F_FAIL to the RAM check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCRAM, Code(X1F_FAIL))); },
         {loadtext::kCrcFailed},
         loadtext::kFailed},
        {"X1F_FAIL to programming",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PROGRAM, Code(X1F_FAIL))); },
         {loadtext::kStartProgramming},
         loadtext::kFailed},
        {"X1F_FAIL to the range check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCANY, Code(X1F_FAIL))); },
         {loadtext::kCrcFailed},
         loadtext::kFailed},
        {"X1F_BADCMD to a probe",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PING, Code(X1F_BADCMD))); },
         {loadtext::kUnrecognized},
         loadtext::kFailed},
        {"X1F_BADCMD to the announcement",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_SETUP, Code(X1F_BADCMD))); },
         {loadtext::kUnrecognized},
         loadtext::kFailed},
        {"X1F_BADCMD to programming",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PROGRAM, Code(X1F_BADCMD))); },
         {loadtext::kUnrecognized},
         loadtext::kFailed},
        {"X1F_PASS with a CRC value to the RAM check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCRAM, Code(X1F_PASS, 0x1234))); },
         {loadtext::kCrcFailed},
         loadtext::kFailed},
        {"X1F_PASS with a CRC value to the range check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCANY, Code(X1F_PASS, 1))); },
         {loadtext::kCrcFailed},
         loadtext::kFailed},
        {"the port cannot be reopened at 57600",
         [](Rig& r) { r.host.failReopenAt = 1; },
         {loadtext::kEstablished, kLostNoDevice},
         loadtext::kFailed},
    });
}

TEST(LoadSequenceMended, ALineLostAfterTheRangeCheckPassedSaysTheImageIsIn) {
    RunRows({
        {"the port cannot be reopened at 19200",
         [](Rig& r) { r.host.failReopenAt = 2; },
         {loadtext::kCrcPassed, loadtext::kProgrammingDone, kLostNoDevice},
         loadtext::kLostAfterCheck},
        {"the device goes while the version is awaited",
         [](Rig& r) {
             r.peer.AnswerVersionFrom(0);
             r.host.goneAtVersionRequest = 1;
         },
         {"Waiting for New Version Number... 59",
          std::string(loadtext::kPortLost) + "the device is no longer there"},
         loadtext::kLostAfterCheck},
    });
}

TEST(LoadSequence, UnexpectedRepliesEndTheWaitAsATimeOut) {
    RunRows({
        {"to a probe",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PING, Code(X1F_BADADDRESS))); },
         {loadtext::kUnexpected},
         loadtext::kTimeout},
        {"to the announcement",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_SETUP, Code(X1F_NOPROG))); },
         {loadtext::kUnexpected},
         loadtext::kTimeout},
        {"to programming",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_PROGRAM, Code(X1F_BADLENGTH))); },
         {loadtext::kUnexpected},
         loadtext::kTimeoutProgram},
        {"to the range check",
         [](Rig& r) { r.peer.SetScript(Answer(X1F_CRCANY, Code(X1F_BADADDRESS))); },
         {loadtext::kUnexpected},
         loadtext::kTimeout},
    });
}

// A stop asked for in the middle of a turn (Load pressed again, Ctrl-C) is seen at the next
// wait: nothing more is sent than what puts the bootloader back at the normal rate, and the
// host is shown "Cancelled", then where the receiver is left, and ends the sequence. While the
// receiver programs itself, the host may turn the first stop into a warning.
TEST(LoadSequence, AStopEndsTheTurnAtItsNextWait) {
    struct Row {
        const char* legend;
        std::function<void(Rig&)> arrange;
        uint8_t code;  // of the command whose count tells where the load stopped
        int sent;
        std::string notSeen;  // a status that would follow without the stop
        std::vector<std::string> ending;
        int versionRequests = 0;
        int askedToKeepWaiting = 0;
    };
    const auto stopAtCommand = [](uint8_t code, int nth, const PeerAnswer& answer = {PeerReply{}}) {
        return [code, nth, answer](Rig& r) {
            TestHost* host = &r.host;
            r.peer.SetScript([host, code, nth, answer](const PeerCommand& c) -> std::optional<PeerAnswer> {
                if (c.code == code && c.nth == nth) {
                    host->stop = true;
                    return answer;
                }
                return std::nullopt;
            });
        };
    };
    const PeerAnswer programmingLong = {{X1F_WORKING, 0, 0}, {X1F_WORKING, 0, 5'000}, {X1F_PASS, 0, 60'000}};
    const Row rows[] = {
        {"in the probe countdown",
         [](Rig& r) {
             r.peer.SetScript(Answer(X1F_PING, NoAnswer()));
             r.host.stopAtStatus = "Establishing Communication... 57";
         },
         X1F_PING,
         3,
         "Establishing Communication... 56",
         {"Establishing Communication... 57", loadtext::kCancelled}},
        {"while a status is held",
         [](Rig& r) { r.host.stopAtStatus = loadtext::kStarted; },
         X1F_PING,
         0,
         "Establishing Communication... 59",
         {loadtext::kStarted, loadtext::kCancelled}},
        {"between blocks",
         stopAtCommand(X1F_LOAD, 2),
         X1F_LOAD,
         2,
         loadtext::kRequestCrc,
         {loadtext::kCancelled, loadtext::kInBootloader}},
        {"in the programming wait",
         stopAtCommand(X1F_PROGRAM, 1, programmingLong),
         X1F_CRCANY,
         0,
         loadtext::kCrcPassed,
         {loadtext::kCancelled, loadtext::kStoppedWhileProgramming},
         0,
         1},
        {"twice in the programming wait, the first only warning",
         [&](Rig& r) {
             stopAtCommand(X1F_PROGRAM, 1, programmingLong)(r);
             r.host.stopsToForget = 1;
             r.host.stopAtStatus = loadtext::kInProgress;
         },
         X1F_CRCANY,
         0,
         loadtext::kCrcPassed,
         {loadtext::kCancelled, loadtext::kStoppedWhileProgramming},
         0,
         1},
        {"in the version wait",
         [](Rig& r) {
             r.peer.AnswerVersionFrom(0);
             r.host.stopAtStatus = "Waiting for New Version Number... 58";
         },
         X1F_CRCANY,
         1,
         "Waiting for New Version Number... 57",
         {"Waiting for New Version Number... 58", loadtext::kCancelled, loadtext::kStoppedWhenProgrammed},
         2},
    };
    for (const Row& row : rows) {
        Rig rig;
        ASSERT_TRUE(rig.Ready()) << row.legend;
        row.arrange(rig);
        ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n"))) << row.legend;
        rig.port.Close();  // waits until the peer has taken every byte sent
        EXPECT_TRUE(rig.sequence.Cancelled()) << row.legend;
        ASSERT_GE(rig.host.statuses.size(), row.ending.size()) << row.legend;
        EXPECT_EQ(std::vector<std::string>(rig.host.statuses.end() - static_cast<long>(row.ending.size()),
                                           rig.host.statuses.end()),
                  row.ending)
            << row.legend << ": " << rig.Shown();
        EXPECT_EQ(rig.Sent(row.code), row.sent) << row.legend;
        EXPECT_FALSE(rig.Saw(row.notSeen)) << row.legend;
        EXPECT_EQ(rig.host.versionRequests, row.versionRequests) << row.legend;
        EXPECT_EQ(rig.host.keepWaitingAsked, row.askedToKeepWaiting) << row.legend;
        EXPECT_EQ(rig.host.ends, 1) << row.legend;
        EXPECT_FALSE(rig.sequence.Running()) << row.legend;
        EXPECT_NE(rig.host.CurrentBaud(), LoadSequence::kFastBaud) << row.legend;
        // A bootloader left waiting listens at the normal rate again, where a new load probes.
        const bool programming = row.ending.back() == loadtext::kStoppedWhileProgramming;
        EXPECT_EQ(rig.peer.Rate(), programming ? LoadSequence::kFastBaud : LoadSequence::kBootBaud)
            << row.legend;
    }
}

TEST(LoadSequence, TargetWithoutCrcSupportStillLoads) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.SetScript([](const PeerCommand& c) -> std::optional<PeerAnswer> {
        if (c.code == X1F_CRCRAM || c.code == X1F_CRCANY) {
            return Code(X1F_BADCMD);
        }
        return std::nullopt;
    });
    const Chunks chunks = SampleChunks();
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\r\n")));
    EXPECT_TRUE(rig.SawInOrder({loadtext::kUnrecognized, loadtext::kNoCrc, loadtext::kStartProgramming,
                                loadtext::kUnrecognized, loadtext::kNoCrc, loadtext::kProgrammingDone}));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
}

TEST(LoadSequence, WorkingDuringProgrammingKeepsWaiting) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.SetScript(Answer(
        X1F_PROGRAM,
        PeerAnswer{
            {X1F_WORKING, 0, 0}, {X1F_WORKING, 0, 30'000}, {X1F_WORKING, 0, 60'000}, {X1F_PASS, 0, 90'000}}));
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    // Each shows the time since the command (the first after the hold of the status before).
    EXPECT_TRUE(
        rig.SawInOrder({loadtext::kStartProgramming, "In Progress. (Please wait up to 5 minutes.) 0:01",
                        "In Progress. (Please wait up to 5 minutes.) 0:31",
                        "In Progress. (Please wait up to 5 minutes.) 1:01", loadtext::kCrcPassed}))
        << rig.Shown();
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
}

TEST(LoadSequence, WorkingDoesNotExtendTheProgrammingWait) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    PeerAnswer working;
    for (int64_t at = 0; at <= 200'000; at += 20'000) {
        working.push_back({X1F_WORKING, 0, at});
    }
    rig.peer.SetScript(Answer(X1F_PROGRAM, working));
    const int64_t start = rig.clock.MonotonicMs();
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kTimeoutProgram);
    EXPECT_LT(rig.clock.MonotonicMs() - start, 200'000);
}

TEST(LoadSequence, TwoLoadsInOneRun) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks first = SampleChunks(1);
    const Chunks second = {{0x08000010, RandomBytes(100, 9)}, {0x08000400, RandomBytes(3, 10)}};
    ASSERT_TRUE(rig.Load(MakeSrecImage(first, "\r\n")));
    ExpectImage(rig.peer, first);
    rig.peer.EnterBootloader();  // the technician restarts the receiver into its bootloader
    ASSERT_TRUE(rig.Load(MakeSrecImage(second, "\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    EXPECT_EQ(rig.host.ends, 2);
    EXPECT_EQ(rig.peer.Downloads(), 2);
    ExpectImage(rig.peer, second);  // the whole new file, nothing of the first
    ExpectGapsErased(rig.peer, ImageOf(second));
}

// Faults of the image are found by the first pass, before anything is announced.
TEST(LoadSequenceMended, BrokenImagesAreNeverAnnounced) {
    const std::string invalid = "S107123401020304A9\r\n";
    const std::string header = "S00F000068656C6C6F202020202000003C\r\n";
    RunRows({
        {"record below the lowest address",
         nullptr,
         {"Input not sorted !  Record 3 has address 0x00000100, previous was 0x00000200\n",
          loadtext::kInputError},
         loadtext::kFailed,
         header + MakeSrecImage({{0x200, {1}}, {0x100, {2}}}, "\r\n")},
        {"record below the end of the one before",
         nullptr,
         {"Input not sorted !  Record 2 has address 0x00000108, previous was 0x0000010F\n",
          loadtext::kInputError},
         loadtext::kFailed,
         MakeSrecImage({{0x100, Bytes(16, 1)}, {0x108, {2}}}, "\r\n")},
        {"invalid line before the end",
         nullptr,
         {loadtext::kInputError},
         loadtext::kFailed,
         MakeSrecLine(3, 0x100, {1}) + invalid + MakeSrecImage({{0x200, {2}}}, "\r\n")},
        {"no S3 record",
         nullptr,
         {loadtext::kInputError},
         loadtext::kFailed,
         header + "S107123401020304A8\r\nS9030000FC\r\n"},
    });
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    ASSERT_TRUE(rig.Load(MakeSrecLine(3, 0x100, {1}) + invalid));
    EXPECT_EQ(rig.Sent(X1F_SETUP), 0);
    EXPECT_EQ(rig.Sent(X1F_LOAD), 0);
    EXPECT_FALSE(rig.Saw(loadtext::kReadingDone));
}

TEST(LoadSequenceMended, BareLineFeedsAndNoFinalLineEndLoad) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    const Chunks chunks = SampleChunks(4);
    std::string text = MakeSrecImage(chunks, "\n");
    text.pop_back();
    ASSERT_TRUE(rig.Load(text));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
}

TEST(LoadSequenceMended, RefusedBlockFailsTheLoad) {
    for (uint8_t code : {X1F_BADADDRESS, X1F_BADLENGTH, X1F_BADCMD, X1F_NOPROG, X1F_FAIL}) {
        Rig rig;
        ASSERT_TRUE(rig.Ready());
        rig.peer.SetScript(Answer(X1F_LOAD, Code(code), 2));
        ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
        EXPECT_EQ(rig.LastStatus(), loadtext::kFailed) << int(code);
        EXPECT_EQ(rig.Sent(X1F_LOAD), 2) << int(code);
        EXPECT_EQ(rig.Sent(X1F_PROGRAM), 0) << int(code);
        EXPECT_EQ(rig.Saw(loadtext::kUnexpected), code != X1F_FAIL) << int(code);
    }
}

TEST(LoadSequenceMended, WorkingToABlockWaitsForItsFinalAnswer) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    // Each X1F_WORKING restarts the 10 s allowed, so an answer 24 s after the block still counts.
    rig.peer.SetScript(Answer(
        X1F_LOAD,
        PeerAnswer{
            {X1F_WORKING, 0, 0}, {X1F_WORKING, 0, 8'000}, {X1F_WORKING, 0, 16'000}, {X1F_PASS, 0, 24'000}},
        3));
    const Chunks chunks = SampleChunks();
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
    EXPECT_EQ(rig.Sent(X1F_LOAD), 6);  // no block sent twice, none skipped
}

TEST(LoadSequenceMended, EndlessWorkingToABlockStillTimesOut) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    PeerAnswer working;
    for (int64_t at = 0; at <= 300'000; at += 5'000) {
        working.push_back({X1F_WORKING, 0, at});
    }
    rig.peer.SetScript(Answer(X1F_LOAD, working, 2));
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kTimeoutData);
    EXPECT_EQ(rig.Sent(X1F_LOAD), 2);
}

TEST(LoadSequenceMended, VanishedDeviceEndsTheLoadAtOnce) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.VanishAtBlock(3);
    const int64_t start = rig.clock.MonotonicMs();
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kFailed);
    const auto lost =
        std::find_if(rig.host.statuses.begin(), rig.host.statuses.end(), [](const std::string& s) {
            return s.rfind(loadtext::kPortLost, 0) == 0 && s.size() > std::string(loadtext::kPortLost).size();
        });
    ASSERT_NE(lost, rig.host.statuses.end());
    EXPECT_EQ(lost + 1, rig.host.statuses.end() - 1) << *(lost + 1);  // straight to "Download Failed."
    EXPECT_FALSE(rig.Saw(loadtext::kTimeoutData));
    EXPECT_LT(rig.clock.MonotonicMs() - start, 60'000);  // no time-out waited through
}

TEST(LoadSequenceMended, DeviceReportedGoneEndsTheLoad) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    TestHost* host = &rig.host;
    rig.peer.SetScript([host](const PeerCommand& c) -> std::optional<PeerAnswer> {
        if (c.code == X1F_LOAD && c.nth == 2) {
            host->deviceGone = true;
            return PeerAnswer{};
        }
        return std::nullopt;
    });
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_TRUE(rig.SawInOrder(
        {std::string(loadtext::kPortLost) + "the device is no longer there", loadtext::kFailed}));
    EXPECT_FALSE(rig.Saw(loadtext::kTimeoutData));
}

TEST(LoadSequenceMended, ShortRepliesAreIgnoredOrReadAsFarAsTheyGo) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.SetScript([](const PeerCommand& c) -> std::optional<PeerAnswer> {
        if (c.code == X1F_PING && c.nth == 1) {
            return PeerAnswer{{X1F_PASS, 0, 0, 4}};  // no room for a value: not a reply
        }
        if (c.code == X1F_SETUP || c.code == X1F_CRCANY) {
            return PeerAnswer{{X1F_PASS, 0, 0, 8}};
        }
        return std::nullopt;
    });
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_TRUE(rig.SawInOrder({"Establishing Communication... 59", "Establishing Communication... 58",
                                loadtext::kEstablished, loadtext::kCrcPassed}));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
}

TEST(LoadSequenceMended, WorkingToACrcCheckWaitsForTheVerdict) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.SetScript(Answer(X1F_CRCRAM, PeerAnswer{{X1F_WORKING, 0, 0}, {X1F_PASS, 0, 3'000}}));
    ASSERT_TRUE(rig.Load(MakeSrecImage(SampleChunks(), "\r\n")));
    EXPECT_TRUE(
        rig.SawInOrder({std::string(loadtext::kInProgress) + " 0:00", "Returned CRC of download image is 0"}))
        << rig.Shown();
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
}

TEST(LoadSequence, NoiseAndOtherFramesAreIgnored) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.peer.Noisy();
    const Chunks chunks = SampleChunks();
    ASSERT_TRUE(rig.Load(MakeSrecImage(chunks, "\r\n")));
    EXPECT_EQ(rig.LastStatus(), loadtext::kReestablished);
    ExpectImage(rig.peer, chunks);
}

TEST(LoadSequence, CancelEndsARunningSequence) {
    Rig rig;
    ASSERT_TRUE(rig.Ready());
    rig.sequence.Start(std::tmpfile());
    ASSERT_TRUE(rig.sequence.Running());
    rig.sequence.Cancel();
    EXPECT_FALSE(rig.sequence.Running());
    EXPECT_EQ(rig.LastStatus(), loadtext::kCancelled);
    EXPECT_EQ(rig.host.ends, 1);
    rig.sequence.Cancel();  // nothing left to cancel
    rig.sequence.Tick();
    EXPECT_EQ(rig.host.ends, 1);
    EXPECT_TRUE(rig.peer.Commands().empty());
}

}  // namespace
