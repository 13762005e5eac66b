// A whole load in real time through the program's serial layer into the simulated receiver,
// whose bootloader keeps its own time. Only the status holds are skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "SrecText.h"
#include "base/Clock.h"
#include "link/Serialport.h"
#include "loader/Loadsequence.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "sim/Simreceiver.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Real time, except that sleeping returns at once and counts as time passed.
class SkipSleepClock final : public Clock {
  public:
    int64_t NowSeconds() override { return real_.NowSeconds() + skippedMs_.load() / 1000; }
    int64_t MonotonicMs() override { return real_.MonotonicMs() + skippedMs_.load(); }
    void SleepMs(int64_t ms) override { skippedMs_ += ms > 0 ? ms : 0; }

  private:
    SystemClock real_;
    std::atomic<int64_t> skippedMs_{0};
};

// The serial port, counting the frames written (every write is one whole frame).
class CountingPort final : public LoaderPort {
  public:
    explicit CountingPort(SerialPort& serial) : inner_(serial) {}
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override {
        return inner_.Read(buffer, capacity, received, waitMs);
    }
    bool Write(const uint8_t* buffer, uint32_t count) override {
        ++frames;
        return inner_.Write(buffer, count);
    }
    bool IsOpen() const override { return inner_.IsOpen(); }
    std::string LastErrorText() const override { return inner_.LastErrorText(); }

    int frames = 0;

  private:
    LoaderPortAdapter<SerialPort> inner_;
};

class SimHost final : public LoaderHost {
  public:
    SimHost(SimReceiver& sim, std::string path) : sim_(sim), path_(std::move(path)) {}

    bool Open() { return serial_.Open(path_, baud_); }
    LoaderPort& Port() override { return port_; }
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    bool ReopenPort(uint32_t baud) override {
        DrainToReceiver();
        serial_.Close();
        if (!serial_.Open(path_, baud)) {
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
    }
    void UpdateVersionLabel(const ReceiverVersion& /*version*/) override {}
    void ShowPanel(const std::array<std::string, 3>& /*lines*/, PanelColour /*colour*/) override {}
    void EndSequence() override {
        ++ends;
        if (baud_ == LoadSequence::kFastBaud) {
            ReopenPort(LoadSequence::kBootBaud);
        }
    }

    std::vector<std::string> statuses;
    int ends = 0;

  private:
    // A serial driver sends what was written before it closes the device; the receiver on the
    // pseudo-terminal judges the rate when it reads, so wait (bounded) until it has read every
    // frame written so far.
    void DrainToReceiver() {
        for (int waited = 0; waited < 1000; waited += 2) {
            int received = 0;
            for (const auto& entry : sim_.Record()) {
                received += entry.direction == SimDirection::kReceived ? 1 : 0;
            }
            if (received >= port_.frames) {
                return;
            }
            usleep(2000);
        }
    }

    SimReceiver& sim_;
    std::string path_;
    uint32_t baud_ = LoadSequence::kBootBaud;
    SerialPort serial_;
    CountingPort port_{serial_};
};

TEST(LoadSequenceSim, WholeLoadIntoTheSimulatedReceiver) {
    SkipSleepClock clock;
    Clock* previous = InstallClock(&clock);

    SimOptions options;
    options.timing.timeScale = 0.1;
    options.newVersion = SimVersion{2, 0, "NEW"};
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start()) << sim.LastError();

    // An image with an unaligned start: the first block is padded with 0xFF below it.
    constexpr uint32_t kLowest = 0x10010;
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    char path[] = "/tmp/lct-sim-load-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text = MakeSrecImage({{kLowest, data}}, "\r\n");
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);

    SimHost host(sim, sim.DevicePath());
    ASSERT_TRUE(host.Open());
    LoadSequence sequence(host);
    sequence.Start(std::fopen(path, "rb"));
    for (int tick = 0; tick < 1000 && sequence.Running(); ++tick) {
        sequence.Tick();
    }
    std::remove(path);
    InstallClock(previous);

    ASSERT_FALSE(sequence.Running());
    ASSERT_FALSE(host.statuses.empty());
    EXPECT_EQ(host.statuses.back(), loadtext::kReestablished);
    EXPECT_EQ(host.ends, 1);

    Bytes expected(16 + data.size(), 0xFF);  // the first 16 bytes of the block are erased
    std::copy(data.begin(), data.end(), expected.begin() + 16);
    const SimImage image = sim.ProgrammedImage();
    ASSERT_EQ(image.size(), 1u);
    EXPECT_EQ(image.begin()->first, kLowest - 16);
    EXPECT_EQ(image.begin()->second, expected);
    EXPECT_EQ(sim.Version(), (SimVersion{2, 0, "NEW"}));
}

// A receiver that answers X1F_SETBAUD at the old rate and switches well after: the probe at
// the new rate must wait for the switch, or it meets the old rate and the attempt is lost
// (the retried X1F_SETBAUD then meets the new rate).
TEST(LoadSequenceSim, AReceiverThatSwitchesLateGetsTheFirstProbe) {
    SkipSleepClock clock;
    Clock* previous = InstallClock(&clock);
    SimOptions options;
    options.timing.timeScale = 0.1;
    options.faults.rateSwitchDelayMs = 100;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    SimHost host(sim, sim.DevicePath());
    ASSERT_TRUE(host.Open());
    LoadSequence sequence(host);
    sequence.Start(std::tmpfile());  // past the switch, the empty image ends the load
    for (int tick = 0; tick < 1000 && sequence.Running(); ++tick) {
        sequence.Tick();
    }
    InstallClock(previous);

    ASSERT_FALSE(sequence.Running());
    EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(), loadtext::kInputError),
              host.statuses.end())
        << host.statuses.back();
    int setBauds = 0;
    for (const SimRecordEntry& entry : sim.Record()) {
        EXPECT_NE(entry.kind, SimKind::kBytes) << FormatRecordEntry(entry);
        setBauds += entry.direction == SimDirection::kReceived && entry.kind == SimKind::kFrame &&
                    entry.bytes[frame::kPayloadOffset + x1f::kCode] == x1f::kSetBaud;
    }
    EXPECT_EQ(setBauds, 1);
    EXPECT_EQ(sim.LineBaud(), LoadSequence::kFastBaud);
}

}  // namespace
