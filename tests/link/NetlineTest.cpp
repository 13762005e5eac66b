// The network line's parts that need no server: the Telnet decoder over the byte sequences
// a server (or garbage) can send, the address forms, and a line whose far end is a bare
// loopback socket of the test's own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/Anyline.h"
#include "link/Netaddress.h"
#include "link/Telnetcodec.h"
#include "support/SerialReads.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace telnet;

struct DecodeCase {
    const char* name;
    std::vector<Bytes> pieces;  // as successive TCP reads gave them
    Bytes data;
    Bytes replies;
    std::vector<std::pair<uint8_t, uint32_t>> answers;
};

TEST(TelnetDecoder, TakesOutEveryIacSequenceWhereverTheReadsSplitIt) {
    const Bytes longSb = [] {
        Bytes b{kIac, kSb, kOptComPort, 101};
        b.insert(b.end(), 5000, 0x41);  // an endless subnegotiation, ended at last
        b.insert(b.end(), {kIac, kSe, 'z'});
        return b;
    }();
    const DecodeCase cases[] = {
        {"plain data", {{'a', 'b', 0}}, {'a', 'b', 0}, {}, {}},
        {"doubled FF split between reads", {{'a', kIac}, {kIac, 'b'}}, {'a', 0xFF, 'b'}, {}, {}},
        {"baud answer split in every place",
         {{kIac}, {kSb}, {kOptComPort}, {101, 0}, {0, 0x4B}, {0}, {kIac}, {kSe}, {'x'}},
         {'x'},
         {},
         {{kSetBaudRate, 19200}}},
        {"FF doubled inside a value",
         {{kIac, kSb, kOptComPort, 101, 0, 0, kIac, kIac, 0, kIac, kSe}},
         {},
         {},
         {{kSetBaudRate, 0xFF00}}},
        {"line and modem state notified, no answer queued",
         {{kIac, kSb, kOptComPort, 106, 0x60, kIac, kSe, kIac, kSb, kOptComPort, 107, 0x30, kIac, kSe}},
         {},
         {},
         {}},
        {"server options: agreed, refused once, NOP and GA dropped",
         {{kIac, kWill, kOptSuppressGoAhead, kIac, kDo, 24, kIac, kDo, 24, 'q', kIac, 241, kIac, 249}},
         {'q'},
         {kIac, kDo, kOptSuppressGoAhead, kIac, kWont, 24},
         {}},
        {"endless subnegotiation is bounded and ignored", {longSb}, {'z'}, {}, {}},
        {"another option's subnegotiation", {{kIac, kSb, 24, 1, kIac, kSe, 'k'}}, {'k'}, {}, {}},
        {"a stray command inside a subnegotiation ends it",
         {{kIac, kSb, kOptComPort, 101, kIac, kWill, 1, 'm'}},
         {'m'},
         {kIac, kDo, 1},
         {}},
        {"garbage after IAC", {{kIac, 7, 'g', kIac, kSe, 'h'}}, {'g', 'h'}, {}, {}},
    };
    for (const DecodeCase& c : cases) {
        Decoder decoder;
        Bytes data;
        for (const Bytes& piece : c.pieces) {
            decoder.Decode(piece.data(), piece.size(), data);
        }
        EXPECT_EQ(data, c.data) << c.name;
        EXPECT_EQ(decoder.Replies(), c.replies) << c.name;
        std::vector<std::pair<uint8_t, uint32_t>> answers;
        for (const ComPortAnswer& a : decoder.Answers()) {
            answers.emplace_back(a.command, a.value);
        }
        EXPECT_EQ(answers, c.answers) << c.name;
    }
}

TEST(TelnetDecoder, AnswersItsOwnRequestsNotAgainAndEncodesWithFfDoubled) {
    Decoder decoder;
    decoder.Requested(kWill, kOptComPort);
    decoder.Requested(kDo, kOptBinary);
    const Bytes agreed{kIac, kDo, kOptComPort, kIac, kWill, kOptBinary};
    Bytes data;
    decoder.Decode(agreed.data(), agreed.size(), data);
    EXPECT_TRUE(decoder.ComPortAgreed());
    EXPECT_TRUE(decoder.Replies().empty());

    Bytes out;
    const uint8_t payload[] = {1, 0xFF, 2};
    AppendEscaped(payload, sizeof payload, out);
    AppendComPort(kSetBaudRate, 0x0000FFFF, 4, out);
    EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 2, kIac, kSb, kOptComPort, kSetBaudRate, 0, 0, 0xFF, 0xFF, 0xFF,
                          0xFF, kIac, kSe}));
}

TEST(NetAddress, ReadsTheTwoFormsWithIpv4Ipv6AndNames) {
    struct Case {
        const char* name;
        bool valid;
        NetAddress::Kind kind;
        const char* host;
        const char* port;
        const char* shown;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:2000", true, NetAddress::Kind::kRfc2217, "127.0.0.1", "2000", "127.0.0.1:2000"},
        {"tcp://[::1]:4001", true, NetAddress::Kind::kTcp, "::1", "4001", "[::1]:4001"},
        {"RFC2217://box.local:23", true, NetAddress::Kind::kRfc2217, "box.local", "23", "box.local:23"},
        {"rfc2217://127.0.0.1", false, {}, "", "", ""},
        {"rfc2217://::1:2000", false, {}, "", "", ""},
        {"tcp://host:0", false, {}, "", "", ""},
        {"tcp://host:70000", false, {}, "", "", ""},
        {"tcp://:2000", false, {}, "", "", ""},
        {"tcp://[::1]2000", false, {}, "", "", ""},
    };
    for (const Case& c : cases) {
        NetAddress address;
        std::string error;
        ASSERT_EQ(ParseNetAddress(c.name, address, error), c.valid) << c.name << ": " << error;
        EXPECT_TRUE(IsNetworkDevice(c.name)) << c.name;
        if (c.valid) {
            EXPECT_EQ(address.kind, c.kind) << c.name;
            EXPECT_EQ(address.host, c.host) << c.name;
            EXPECT_EQ(address.port, c.port) << c.name;
            EXPECT_EQ(address.shown, c.shown) << c.name;
        } else {
            EXPECT_NE(error.find(c.name), std::string::npos) << error;
        }
    }
    EXPECT_FALSE(IsNetworkDevice("/dev/ttyUSB0"));
    EXPECT_TRUE(HasFixedRate("tcp://h:1"));
    EXPECT_FALSE(HasFixedRate("rfc2217://h:1"));
    EXPECT_EQ(FixedRateText("tcp://10.0.0.5:4001"),
              "The line at 10.0.0.5:4001 has a fixed rate; use rfc2217:// to let the program change it.");
}

// A listening loopback socket that accepts only when asked: the kernel completes the
// connection on its own, so a line can connect to a far end that never says a word.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 4) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // Accepts the waiting connection and closes it at once.
    void AcceptAndClose() const { ::close(::accept(fd_, nullptr, nullptr)); }
    // Stops listening: later connections are refused.
    void Stop() {
        ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(NetLine, EndsEveryFaultWithItsTextAndNeverHangs) {
    {  // a server that never answers the com-port request
        Listener silent;
        AnyLine port;
        testsupport::Stopwatch watch;
        EXPECT_FALSE(port.Open("rfc2217://" + silent.HostPort(), 19200));
        EXPECT_LT(watch.ElapsedMs(), 6000);
        EXPECT_EQ(port.LastErrorText(),
                  "No answer from " + silent.HostPort() + " to the serial port control request within 3 s");
    }
    {  // a raw line whose server closes: lost, with the address; no rate but its own
        Listener closing;
        AnyLine port;
        ASSERT_TRUE(port.Open("tcp://" + closing.HostPort(), 19200)) << port.LastErrorText();
        EXPECT_FALSE(port.CanChangeRate());
        EXPECT_TRUE(port.SetBaudRate(19200));
        EXPECT_FALSE(port.SetBaudRate(57600));
        EXPECT_EQ(port.LastErrorText(), FixedRateText("tcp://" + closing.HostPort()));
        closing.AcceptAndClose();
        uint8_t buffer[16];
        uint32_t received = 0;
        EXPECT_FALSE(port.Read(buffer, sizeof buffer, &received, 2000));
        EXPECT_EQ(port.LastErrorText(), "connection closed by " + closing.HostPort());
        const uint8_t byte = 0x55;
        EXPECT_FALSE(port.Write(&byte, 1));
        port.Close();
        EXPECT_FALSE(port.IsOpen());
    }
    {  // nobody listening: the system's text, at once
        Listener gone;
        const std::string hostPort = gone.HostPort();
        gone.Stop();
        AnyLine port;
        EXPECT_FALSE(port.Open("rfc2217://" + hostPort, 19200));
        EXPECT_NE(port.LastErrorText().find(hostPort + ": Connection refused"), std::string::npos)
            << port.LastErrorText();
        EXPECT_FALSE(port.Open("tcp://" + hostPort, 19200));
        EXPECT_FALSE(port.Open("rfc2217://127.0.0.1", 19200));
        EXPECT_NE(port.LastErrorText().find("Bad network address"), std::string::npos);
    }
}

}  // namespace
