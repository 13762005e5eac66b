// The serial link on Windows: the Win32 serial backend, the registry's port list and the
// routing of replies, run under Wine by lct_wine_tests against simulated receivers on
// pseudo-terminals mapped to COM ports (the ports below). Two cases are for a real Windows
// only: Wine shares a serial device between openers, and its non-blocking read on a quiet
// line waits for the first byte; both are skipped under Wine with that reason.
#include <winsock2.h>
// windows.h after winsock2.h
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/Configmsg.h"
#include "config/Hardwaremsg.h"
#include "link/Anyline.h"
#include "link/Port.h"
#include "link/Receivepath.h"
#include "link/Regutils.h"
#include "link/Serialport.h"
#include "proto/Bytes.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "support/SerialReads.h"

namespace {

using testsupport::Stopwatch;

using Bytes = std::vector<uint8_t>;

// The ports the rig sets up.
const std::string kTalkingPort = "COM5";  // a receiver at 19200 baud, GGA and RMC once a second
const std::string kSilentPort = "COM6";   // a receiver that sends nothing
const std::string kDeafPort = "COM7";     // a line whose far end never reads
const std::string kGonePort = "COM8";     // listed in the registry, its device gone
const std::string kUnknownPort = "COM9";  // no such port

constexpr uint32_t kSimBaud = 19200;
constexpr uint32_t kSimNmeaMask = config::kMaskGGA | config::kMaskRMC;
constexpr int kReplyWaitMs = 3000;
constexpr int kRequestRepeatMs = 1000;
constexpr int kSliceMs = 100;

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#define SKIP_UNDER_WINE(reason)               \
    if (UnderWine()) {                        \
        GTEST_SKIP() << "Wine: " << (reason); \
    }

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The PC end of a conversation with a receiver: requests out, frames in, read in slices of
// the blocking mode's bounded wait.
class Conversation {
  public:
    explicit Conversation(SerialPort& port) : port_(port) {}

    bool Request(uint8_t id) {
        uint8_t frame[request::kFrameLength];
        return port_.Write(frame, build_request_frame(id, request::kStandardMode, 0, frame));
    }
    bool SendSettings(uint32_t nmeaMask, uint32_t baud) {
        uint8_t frame[config::kFrameLength];
        return port_.Write(frame,
                           BuildConfigFrame(EncodeNmeaAndBaud(nmeaMask, static_cast<int32_t>(baud)), frame));
    }
    // The payload of the first frame with the id that arrives within the wait.
    std::optional<Bytes> AwaitFrame(uint8_t id, int waitMs) {
        std::optional<Bytes> payload;
        const Stopwatch watch;
        while (!payload && watch.ElapsedMs() < waitMs) {
            receive_.Pump(
                port_, kSliceMs,
                [&](const DiagProto& diag) {
                    const uint8_t* frame = diag.MessageData();
                    if (!payload && frame[frame::kIdOffset] == id) {
                        payload.emplace(frame + frame::kPayloadOffset, frame + diag.MessageLength() - 2);
                    }
                },
                [](const CRLFProto&) {});
        }
        return payload;
    }
    // Asks again each second, as the tool does: a request that crossed a rate change is lost.
    std::optional<Bytes> Ask(uint8_t id) {
        for (int waited = 0; waited < kReplyWaitMs; waited += kRequestRepeatMs) {
            if (!Request(id)) {
                return std::nullopt;
            }
            if (auto payload = AwaitFrame(id, kRequestRepeatMs)) {
                return payload;
            }
        }
        return std::nullopt;
    }

  private:
    SerialPort& port_;
    ReceivePath receive_;
};

uint32_t BaudOfConfig(const Bytes& payload) {
    return payload.size() >= config::kBaudRate + 4u ? get_le32(payload.data() + config::kBaudRate) : 0;
}

class WinSerialPort : public ::testing::Test {
  protected:
    void Open(const std::string& name, uint32_t rate = kSimBaud) {
        ASSERT_TRUE(port.Open(name, rate)) << name << ": " << port.LastErrorText();
    }
    Bytes ReadBytes(uint32_t capacity, int32_t waitMs, bool* ok = nullptr) {
        return testsupport::ReadBytes(port, capacity, waitMs, ok);
    }

    SerialPort port;
};

TEST_F(WinSerialPort, OpensClosesAndReopens) {
    EXPECT_FALSE(port.IsOpen());
    Open(kTalkingPort);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // harmless when closed
    Open(kTalkingPort);
    EXPECT_TRUE(Conversation(port).Ask(msgid::kConfig)) << "no answer after the reopen";
}

TEST_F(WinSerialPort, ReadWriteAndRateChangeOnAClosedPortFail) {
    uint8_t buffer[8] = {};
    uint32_t count = 77;
    EXPECT_FALSE(port.Read(buffer, sizeof buffer, &count, 0));
    EXPECT_EQ(count, 0u);
    count = 77;
    EXPECT_FALSE(port.Write(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(port.SetBaudRate(kSimBaud));
    EXPECT_NE(port.LastErrorCode(), 0u);
    EXPECT_FALSE(port.LastErrorText().empty());
}

TEST_F(WinSerialPort, OpenWhileOpenIsRefusedAndLeavesTheDeviceAlone) {
    Open(kTalkingPort);
    EXPECT_FALSE(port.Open(kSilentPort, 9600));
    EXPECT_TRUE(port.IsOpen());
    // Still the receiver's port at its rate: it answers.
    EXPECT_TRUE(Conversation(port).Ask(msgid::kConfig));
}

TEST_F(WinSerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
    SKIP_UNDER_WINE("a second open of a COM port succeeds (Wine shares devices between openers)");
    Open(kTalkingPort);
    SerialPort second;
    EXPECT_FALSE(second.Open(kTalkingPort, kSimBaud));
    EXPECT_EQ(second.LastErrorCode(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    port.Close();
    EXPECT_TRUE(second.Open(kTalkingPort, kSimBaud)) << second.LastErrorText();
}

TEST_F(WinSerialPort, PortsThatCannotBeOpenedFailWithTheSystemsText) {
    for (const std::string& name : {kUnknownPort, kGonePort}) {
        EXPECT_FALSE(port.Open(name, kSimBaud)) << name;
        EXPECT_FALSE(port.IsOpen()) << name;
        EXPECT_NE(port.LastErrorCode(), 0u) << name;
        EXPECT_FALSE(port.LastErrorText().empty()) << name;
        Open(kTalkingPort);  // a failed open leaves the object ready for the next
        port.Close();
    }
}

// The receiver's side of a pseudo-terminal reads the rate the port is set to, and garbles
// what crosses at another rate: an intact answer shows both ends at the same rate.
TEST_F(WinSerialPort, TheReceiverAnswersAtTheRateItRunsAtAndTheRateFollowsIt) {
    Open(kTalkingPort, 9600);
    EXPECT_FALSE(Conversation(port).Ask(msgid::kConfig)) << "answered across two rates";
    port.Close();

    Open(kTalkingPort, kSimBaud);
    Conversation receiver(port);
    for (const uint32_t rate : {4800u, 9600u, 38400u, 57600u, 115200u, kSimBaud}) {
        // As the setup dialog does: the new rate goes out, the receiver answers at the old
        // one and switches; then the port follows.
        ASSERT_TRUE(receiver.SendSettings(kSimNmeaMask, rate)) << rate;
        const auto confirmed = receiver.AwaitFrame(msgid::kConfig, kReplyWaitMs);
        ASSERT_TRUE(confirmed) << rate;
        EXPECT_EQ(BaudOfConfig(*confirmed), rate);
        ASSERT_TRUE(port.SetBaudRate(rate)) << rate << ": " << port.LastErrorText();
        const auto answer = receiver.Ask(msgid::kConfig);
        ASSERT_TRUE(answer) << "no intact answer at " << rate;
        EXPECT_EQ(BaudOfConfig(*answer), rate);
    }
}

TEST_F(WinSerialPort, BlockingReadWaitsForBytesAndIsBoundedByItsWait) {
    Open(kSilentPort);
    Stopwatch watch;
    bool ok = true;
    EXPECT_TRUE(ReadBytes(1024, 300, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(ERROR_TIMEOUT));
    EXPECT_LT(watch.ElapsedMs(), 10000);
    port.Close();

    Open(kTalkingPort);  // a sentence comes every second
    const Bytes got = ReadBytes(1024, 20000, &ok);
    EXPECT_TRUE(ok) << port.LastErrorText();
    EXPECT_FALSE(got.empty());
}

TEST_F(WinSerialPort, NonBlockingReadReturnsAtOnceOnAQuietLine) {
    SKIP_UNDER_WINE("a non-blocking read on a quiet line waits for the first byte instead of returning");
    port.SetBlocking(false);
    Open(kSilentPort);
    bool ok = false;
    const Stopwatch watch;
    EXPECT_TRUE(ReadBytes(1024, -1, &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_LT(watch.ElapsedMs(), 2000);
}

TEST_F(WinSerialPort, NonBlockingReadTakesWhatHasArrived) {
    port.SetBlocking(false);
    Open(kTalkingPort);
    SleepMs(1500);  // a second's sentences are waiting
    bool ok = false;
    const Bytes got = ReadBytes(1024, 5000, &ok);
    EXPECT_TRUE(ok) << port.LastErrorText();
    EXPECT_FALSE(got.empty());
}

// A write that cannot go out ends at the time-out of the non-blocking mode (2000 ms per
// byte plus 2000 ms) as a failure with its count, as on POSIX; purging the output makes room.
TEST_F(WinSerialPort, WriteThatCannotGoOutFailsAtItsTimeOutAndPurgeMakesRoom) {
    port.SetBlocking(false);
    Open(kDeafPort);
    const uint8_t byte = 0x55;
    uint32_t count = 0;
    bool written = true;
    // One byte at a time, so that only the write that finds the queue full waits.
    for (int i = 0; i < 1'000'000 && written; ++i) {
        written = port.Write(&byte, 1, &count);
    }
    ASSERT_FALSE(written) << "the queue towards the far end never filled";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(ERROR_TIMEOUT));
    EXPECT_FALSE(port.LastErrorText().empty());

    port.Purge();
    EXPECT_TRUE(port.Write(&byte, 1, &count)) << port.LastErrorText();
    EXPECT_EQ(count, 1u);
}

TEST_F(WinSerialPort, PurgeDiscardsTheReplyWaitingToBeRead) {
    Open(kTalkingPort);
    Conversation receiver(port);
    ASSERT_TRUE(receiver.Request(msgid::kHardware));
    SleepMs(1500);  // the reply has long arrived
    port.Purge();
    EXPECT_FALSE(receiver.AwaitFrame(msgid::kHardware, 1500)) << "the reply survived the purge";
    EXPECT_TRUE(receiver.Ask(msgid::kHardware)) << "the line no longer works after the purge";
}

// --- the port list from the registry ------------------------------------------------------

constexpr const char* kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct RegistryValue {
    std::string name;
    DWORD type = REG_SZ;
    Bytes data;
};

// The SERIALCOMM key's values, read whole; nothing when the key is missing.
std::optional<std::vector<RegistryValue>> ReadSerialComm() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<RegistryValue> values;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        BYTE data[4096];
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS) {
            break;
        }
        values.push_back({std::string(name, nameLength), type, Bytes(data, data + dataLength)});
    }
    RegCloseKey(key);
    return values;
}

// Replaces the SERIALCOMM key by one with these values (volatile, as the system makes it),
// or removes it when there are none to give.
void WriteSerialComm(const std::optional<std::vector<RegistryValue>>& values) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSerialCommPath);
    if (!values) {
        return;
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommPath, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const RegistryValue& value : *values) {
        ASSERT_EQ(RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS)
            << value.name;
    }
    RegCloseKey(key);
}

// Values named as the system names them, in that (alphabetical) order, holding the ports.
std::vector<RegistryValue> PortValues(const std::vector<std::string>& ports) {
    std::vector<RegistryValue> values;
    for (const std::string& port : ports) {
        RegistryValue value;
        value.name = "\\Device\\Serial" + std::to_string(values.size());
        value.data.assign(port.begin(), port.end());
        value.data.push_back(0);
        values.push_back(value);
    }
    return values;
}

class WinPortList : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = ReadSerialComm(); }
    void TearDown() override { WriteSerialComm(saved_); }

  private:
    std::optional<std::vector<RegistryValue>> saved_;
};

TEST_F(WinPortList, TheMappedPortsAreListed) {
    StringDeque list;
    ASSERT_TRUE(ListSerialPorts(list));
    for (const std::string& port : {kTalkingPort, kSilentPort, kDeafPort, kGonePort}) {
        EXPECT_NE(std::find(list.begin(), list.end(), port), list.end()) << port;
    }
    EXPECT_EQ(std::find(list.begin(), list.end(), kUnknownPort), list.end());
}

TEST_F(WinPortList, TheRegistrysValuesGiveThePortDialogsList) {
    struct Case {
        const char* legend;
        std::optional<std::vector<RegistryValue>> values;
        bool listed;
        StringDeque expected;
    };
    RegistryValue longName = PortValues({"COM3"})[0];
    longName.name = std::string(100, 'n');
    const Case cases[] = {
        {"COM1 and COM2 lead", PortValues({"COM2", "COM4", "COM1"}), true, {"COM1", "COM2", "COM4"}},
        {"COM2 without COM1", PortValues({"COM2", "COM5"}), true, {"COM2", "COM5"}},
        {"others in registry order", PortValues({"COM7", "COM3", "COM3"}), true, {"COM7", "COM3", "COM3"}},
        {"a port name of 100 characters", PortValues({"COM3", std::string(100, 'P')}), false, {}},
        {"a value name of 100 characters", std::vector<RegistryValue>{longName}, false, {}},
        {"no values", std::vector<RegistryValue>{}, true, {}},
        {"no SERIALCOMM key", std::nullopt, false, {}},
    };
    for (const Case& c : cases) {
        WriteSerialComm(c.values);
        StringDeque list = {"left over"};
        EXPECT_EQ(ListSerialPorts(list), c.listed) << c.legend;
        EXPECT_EQ(list, c.expected) << c.legend;
    }
}

// --- the network line -------------------------------------------------------------------

// A loopback port nobody listens on refuses the connect, and the line says so at once: a
// refusal that only shows in the except set of select is no time-out.
TEST(WinNetLine, ARefusedConnectIsReportedAsRefused) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::closesocket(s);
    AnyLine port;
    EXPECT_FALSE(port.Open("tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), kSimBaud));
    EXPECT_EQ(port.LastErrorCode(), static_cast<uint32_t>(WSAECONNREFUSED)) << port.LastErrorText();
    WSACleanup();
}

// --- the receive path ------------------------------------------------------------------

// As the program runs: the one link state, its line opened for reads that do not wait, the
// receive path feeding both framers and handing each frame to the handler its id chooses.
TEST(WinReceivePath, RepliesReachTheHandlersOfTheirIds) {
    LinkState& link = Link();
    std::vector<Bytes> configFrames;
    std::vector<Bytes> hardwareFrames;
    const auto route = [&](const DiagProto& diag) {
        const uint8_t* frame = diag.MessageData();
        const Bytes whole(frame, frame + diag.MessageLength());
        if (frame[frame::kIdOffset] == msgid::kConfig) {
            configFrames.push_back(whole);
        } else if (frame[frame::kIdOffset] == msgid::kHardware) {
            hardwareFrames.push_back(whole);
        }
    };
    link.line.SetBlocking(false);
    ASSERT_TRUE(link.line.Open(kTalkingPort, kSimBaud)) << link.line.LastErrorText();
    uint8_t frame[request::kFrameLength];
    for (const uint8_t id : {msgid::kConfig, msgid::kHardware}) {
        ASSERT_TRUE(link.line.Write(frame, build_request_frame(id, request::kStandardMode, 0, frame)));
    }
    int sentences = 0;
    const Stopwatch watch;
    while ((configFrames.empty() || hardwareFrames.empty() || sentences == 0) && watch.ElapsedMs() < 10000) {
        // Under Wine a read that should return at once waits for a byte: the wait is bounded.
        link.receive.Pump(link.line, 2000, route, [&](const CRLFProto&) { ++sentences; });
    }
    link.line.Close();
    ASSERT_EQ(configFrames.size(), 1u);
    ASSERT_EQ(hardwareFrames.size(), 1u);
    EXPECT_GT(sentences, 0);  // the sentences in between reached no handler
    const Bytes& config = configFrames[0];
    const auto version =
        DecodeVersion(config.data() + frame::kPayloadOffset, config.size() - frame::kOverhead);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->Text(), "1.0SIM");
    const Bytes& hardware = hardwareFrames[0];
    const auto info =
        DecodeHardwareInfo(hardware.data() + frame::kPayloadOffset, hardware.size() - frame::kOverhead);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->serialNumber, 5200417);
    EXPECT_EQ(info->partNumber, "LT-2000-0100");
}

}  // namespace
