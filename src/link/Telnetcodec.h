#pragma once
// The Telnet side of a network serial line (RFC 854 with the Com Port Control Option of
// RFC 2217), as a pure byte-level state machine: no I/O, bounded buffers.
//
// Decode() takes whatever a TCP read gave, in pieces of any size, and hands back only the
// serial data; IAC sequences are taken out wherever the reads split them. What the codec has
// to answer (option negotiation) collects in Replies(); the server's answers to com-port
// commands collect in a small queue. The encoding helpers double every 0xFF.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace telnet {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptBinary = 0;
inline constexpr uint8_t kOptEcho = 1;
inline constexpr uint8_t kOptSuppressGoAhead = 3;
inline constexpr uint8_t kOptComPort = 44;

// Com-port commands from client to server; the server answers with the code plus 100.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kParityOdd = 2;
inline constexpr uint8_t kParityEven = 3;
inline constexpr uint8_t kPurgeBoth = 3;

// One answer of the server to a com-port command: the client's command code (the server's
// code less 100) and the value, big-endian, of at most four bytes.
struct ComPortAnswer {
    uint8_t command = 0;
    uint32_t value = 0;
};

// Appends the data with every 0xFF doubled.
void AppendEscaped(const uint8_t* data, size_t count, std::vector<uint8_t>& out);
// Appends IAC verb option.
void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);
// Appends a com-port subnegotiation: IAC SB 44 command value IAC SE, the value big-endian in
// `valueBytes` bytes (1 or 4) with 0xFF doubled.
void AppendComPort(uint8_t command, uint32_t value, int valueBytes, std::vector<uint8_t>& out);

class Decoder {
  public:
    // Subnegotiations longer than this are read to their end and ignored.
    static constexpr size_t kMaxSubnegotiation = 32;
    // Answers beyond this many wait nowhere: the oldest is dropped.
    static constexpr size_t kMaxAnswers = 16;
    // Negotiation replies beyond this many bytes are dropped (a peer that floods requests).
    static constexpr size_t kMaxReplyBytes = 1024;

    // Records that the client has asked for an option (WILL / DO sent), so that the server's
    // agreement is not answered again.
    void Requested(uint8_t verb, uint8_t option);

    // Takes received bytes and appends the serial data among them to `data`.
    void Decode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data);

    // Bytes the codec must send in answer to the server's negotiation; taken by the caller.
    std::vector<uint8_t>& Replies() { return replies_; }
    // The server's answers to com-port commands, oldest first.
    std::deque<ComPortAnswer>& Answers() { return answers_; }
    // True once the server agreed to the com-port option (DO COM-PORT-OPTION).
    bool ComPortAgreed() const { return local_[kOptComPort].enabled; }
    // True once the server refused it.
    bool ComPortRefused() const { return local_[kOptComPort].refused; }
    // Line and modem state last notified by the server.
    uint8_t LineState() const { return lineState_; }
    uint8_t ModemState() const { return modemState_; }

  private:
    enum class State { kData, kIac, kOption, kSbOption, kSbData, kSbIac };
    struct OptionState {
        bool enabled = false;
        bool pending = false;  // asked for by us, no answer yet
        bool refused = false;  // answered with a refusal once already
    };

    void Command(uint8_t byte);
    void Negotiate(uint8_t verb, uint8_t option);
    void AnswerRequest(OptionState& state, bool supported, bool wanted, uint8_t yes, uint8_t no,
                       uint8_t option);
    void EndSubnegotiation();
    void Reply(uint8_t verb, uint8_t option);

    State state_ = State::kData;
    uint8_t verb_ = 0;
    uint8_t sbOption_ = 0;
    std::array<uint8_t, kMaxSubnegotiation> sb_{};
    size_t sbLength_ = 0;
    bool sbOverflow_ = false;
    std::array<OptionState, 256> local_{};   // options on our side (DO / DONT from the server)
    std::array<OptionState, 256> remote_{};  // options on the server's side (WILL / WONT)
    std::vector<uint8_t> replies_;
    std::deque<ComPortAnswer> answers_;
    uint8_t lineState_ = 0;
    uint8_t modemState_ = 0;
};

}  // namespace telnet
