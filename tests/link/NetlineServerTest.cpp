// The network line against servers that misbehave as real ones have: the tests' own RFC 2217
// server, scripted per row, on a loopback port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Rfc2217Server.h"
#include "link/Netline.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Script = Rfc2217Server::Script;
using namespace telnet;

constexpr uint32_t kRate = 19200;

std::string Opened(NetLine& line, const Rfc2217Server& server, int parity = 0) {
    return line.Open(server.Address(), kRate, parity) ? "opened" : line.LastError().text;
}

// The outcomes of a row's steps, taken in order (the elements of a braced list are).
std::string Steps(std::initializer_list<std::string> outcomes) {
    std::string joined;
    for (const std::string& outcome : outcomes) {
        joined += (joined.empty() ? "" : " | ") + outcome;
    }
    return joined;
}

std::string Outcome(NetLine& line, bool ok, const std::string& good) {
    return ok ? good : line.LastError().text;
}

// Reads until `count` bytes came or `reads` reads have passed.
std::string ReadUpTo(NetLine& line, size_t count, bool blocking, int reads) {
    std::string data;
    for (int i = 0; i < reads && data.size() < count; ++i) {
        uint8_t buffer[256];
        uint32_t received = 0;
        line.SetBlocking(blocking);
        if (line.Read(buffer, sizeof buffer, &received, 100)) {
            data.append(buffer, buffer + received);
        }
        if (!blocking) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return data;
}

Bytes Notification(uint8_t command, uint8_t value) {
    Bytes bytes;
    AppendComPort(static_cast<uint8_t>(command + kServerOffset), value, 1, bytes);
    return bytes;
}

// Data with an escaped FF, a NOP, a notification and an option the client refuses among it.
Bytes MixedStream() {
    Bytes bytes{'a', kIac, kIac, 'b', kIac, 241, kIac, kWill, 24};
    const Bytes notified = Notification(kNotifyModemState, 0x30);
    bytes.insert(bytes.end(), notified.begin(), notified.end());
    bytes.push_back('c');
    return bytes;
}

// A thousand digits, each behind five hundred line and modem state notifications: 3.5 MB,
// more than a hundred receives of the line take.
Bytes NotificationFlood() {
    Bytes bytes;
    for (int digit = 0; digit < 1000; ++digit) {
        for (int i = 0; i < 250; ++i) {
            for (const Bytes& notified :
                 {Notification(kNotifyLineState, 0x60), Notification(kNotifyModemState, 0xFF)}) {
                bytes.insert(bytes.end(), notified.begin(), notified.end());
            }
        }
        bytes.push_back(static_cast<uint8_t>('0' + digit % 10));
    }
    return bytes;
}

std::string Digits() {
    std::string digits;
    for (int digit = 0; digit < 1000; ++digit) {
        digits.push_back(static_cast<char>('0' + digit % 10));
    }
    return digits;
}

// "abc", then a subnegotiation that never ends.
Bytes EndlessSubnegotiation() {
    Bytes bytes{'a', 'b', 'c', kIac, kSb, kOptComPort, 106};
    bytes.insert(bytes.end(), 256 * 1024, 0x41);
    return bytes;
}

// Writes 64 KB pieces without blocking until one fails, at most `pieces` of them.
std::string WriteUntilRefused(NetLine& line, int pieces) {
    const Bytes piece(65536, 0x55);
    for (int i = 0; i < pieces; ++i) {
        line.SetBlocking(false);
        if (!line.Write(piece.data(), static_cast<uint32_t>(piece.size()), nullptr) &&
            line.LastError().text.find("taken no data") != std::string::npos) {
            return line.LastError().text;
        }
    }
    return "still writing";
}

std::string OpenCancelledFromAnotherThread(NetLine& line, const Rfc2217Server& server) {
    std::atomic<bool> cancel{false};
    line.SetCancel([&cancel] { return cancel.load(); });
    std::string text;
    std::thread opener([&] { text = Opened(line, server); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel = true;
    opener.join();
    return text;
}

struct ServerCase {
    const char* name;
    Script script;
    // What the client does, and what came of it; "@" in `expected` is the server's HOST:PORT.
    std::function<std::string(NetLine&, Rfc2217Server&)> run;
    std::string expected;
};

TEST(NetLineAgainstServers, EachMisbehaviourEndsAsItMust) {
    const std::string answerTime = SecondsText(NetLine::kAnswerMs);
    const int late = NetLine::kAnswerMs + 500;
    const auto open = [](NetLine& line, Rfc2217Server& server) { return Opened(line, server); };
    const ServerCase cases[] = {
        {"refuses the com-port option",
         {.refuseComPort = true},
         open,
         "@ does not offer serial port control (RFC 2217); use tcp:// for a fixed-rate line"},
        {"sets another rate at open",
         {.granted = {{{kSetBaudRate, kRate}, 9600}}},
         open,
         "The server at @ set 9600 baud, not 19200."},
        {"sets another data size at open",
         {.granted = {{{kSetDataSize, 8}, 7}}},
         open,
         "The server at @ set 7 data bits, not 8."},
        {"sets another parity at open",
         {.granted = {{{kSetParity, kParityEven}, kParityNone}}},
         [](NetLine& line, Rfc2217Server& server) { return Opened(line, server, 3); },
         "The server at @ set parity none, not even."},
        {"sets another stop size at open",
         {.granted = {{{kSetStopSize, 1}, 2}}},
         open,
         "The server at @ set 2 stop bits, not 1."},
        {"sets another rate at a rate change",
         {.granted = {{{kSetBaudRate, 57600}, 38400}}},
         [](NetLine& line, Rfc2217Server& server) {
             return Steps({Opened(line, server), Outcome(line, line.SetBaudRate(57600), "changed")});
         },
         "opened | The server at @ set 38400 baud, not 57600."},
        {"answers a purge after its time-out: the next purge waits for its own answer",
         {.heldMs = {{{kPurgeData, 0}, late}, {{kPurgeData, 1}, 800}}},
         [](NetLine& line, Rfc2217Server& server) {
             const std::string opened = Opened(line, server);
             line.Purge();
             line.Purge();
             return Steps({opened, "answers sent: " + std::to_string(server.AnswersSent(kPurgeData))});
         },
         "opened | answers sent: 2"},
        {"answers a rate change after its time-out: the next change takes its own answer",
         {.heldMs = {{{kSetBaudRate, 1}, late}}},
         [](NetLine& line, Rfc2217Server& server) {
             return Steps({Opened(line, server), Outcome(line, line.SetBaudRate(38400), "changed"),
                           Outcome(line, line.SetBaudRate(57600), "changed"), std::to_string(server.Baud())});
         },
         "opened | No answer from @ to the rate change within " + answerTime + " | changed | 57600"},
        {"splits every IAC sequence at each byte",
         {.byteByByte = true, .afterOpen = MixedStream()},
         [](NetLine& line, Rfc2217Server& server) {
             return Steps({Opened(line, server), Outcome(line, line.SetBaudRate(57600), "changed"),
                           ReadUpTo(line, 4, true, 20)});
         },
         "opened | changed | a\xFF"
         "bc"},
        {"never ends a subnegotiation",
         {.afterOpen = EndlessSubnegotiation()},
         [](NetLine& line, Rfc2217Server& server) {
             const uint8_t byte = 'w';
             return Steps(
                 {Opened(line, server), ReadUpTo(line, 3, true, 20),
                  ReadUpTo(line, 1, true, 5).empty() ? "then nothing" : "then more",
                  Outcome(line, (line.SetBlocking(true), line.Write(&byte, 1, nullptr)), "written")});
         },
         "opened | abc | then nothing | written"},
        {"floods line and modem state notifications",
         {.afterOpen = NotificationFlood()},
         [](NetLine& line, Rfc2217Server& server) {
             return Steps({Opened(line, server), ReadUpTo(line, 1000, false, 100)});
         },
         "opened | " + Digits()},
        {"stops reading mid-write",
         {.deafAfterOpen = true},
         [](NetLine& line, Rfc2217Server& server) {
             return Steps({Opened(line, server), WriteUntilRefused(line, 1000)});
         },
         "opened | The server at @ has taken no data for " + SecondsText(NetLine::kStallMs)},
        {"never answers, and the open is cancelled from another thread",
         {.mute = true},
         OpenCancelledFromAnotherThread,
         "Connecting to @ was cancelled"},
    };
    for (const ServerCase& c : cases) {
        Rfc2217Server server(c.script);
        NetLine line;
        std::string expected = c.expected;
        for (size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@', at)) {
            expected.replace(at, 1, server.HostPort());
        }
        EXPECT_EQ(c.run(line, server), expected) << c.name;
    }
}

}  // namespace
