#pragma once
// A serial device server of the tests' own: Telnet with the Com Port Control Option on a
// free loopback port, run on a thread of the test. It grants every setting and answers in
// order, unless its script tells it how to misbehave. No serial device behind it: the data
// the client writes is kept, and the server sends what the script gives.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class Rfc2217Server {
  public:
    struct Script {
        bool refuseComPort = false;  // answers the com-port option with DONT
        bool mute = false;           // reads, and answers nothing at all
        // {command, value asked} -> the value the server reports instead.
        std::map<std::pair<uint8_t, uint32_t>, uint32_t> granted{};
        // {command, which of its answers, from 0} -> how long after the request it goes out;
        // answers still leave in the order of their requests.
        std::map<std::pair<uint8_t, int>, int> heldMs{};
        bool byteByByte = false;           // every byte the server sends goes in a send of its own
        std::vector<uint8_t> afterOpen{};  // sent as it is once the line settings are answered
        bool deafAfterOpen = false;        // from then on, reads nothing
    };

    explicit Rfc2217Server(Script script);
    ~Rfc2217Server();
    Rfc2217Server(const Rfc2217Server&) = delete;
    Rfc2217Server& operator=(const Rfc2217Server&) = delete;

    // "rfc2217://127.0.0.1:PORT", and its "127.0.0.1:PORT".
    std::string Address() const { return "rfc2217://" + HostPort(); }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // Answers to the command that have gone out (counted before they are sent).
    int AnswersSent(uint8_t command) const;
    // The rate the last SET-BAUDRATE asked for.
    uint32_t Baud() const;
    // The serial data the client wrote, unescaped.
    std::vector<uint8_t> Received() const;

  private:
    struct Outgoing {
        int64_t dueMs;
        uint8_t answerTo;  // the command answered, 0 for other bytes
        bool afterOpen;
        std::vector<uint8_t> bytes;
    };
    struct Session;

    void Run();
    void Serve(int fd);
    void Take(Session& session, const uint8_t* bytes, size_t count);
    void Negotiate(Session& session, uint8_t option);
    void Subnegotiation(Session& session);
    void Queue(Session& session, int delayMs, uint8_t answerTo, std::vector<uint8_t> bytes,
               bool afterOpen = false);
    bool SendDue(Session& session);
    bool SendAll(int fd, const uint8_t* bytes, size_t count);

    const Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<uint8_t, int> answersSent_;
    uint32_t baud_ = 0;
    std::vector<uint8_t> received_;
    std::thread thread_;
};
