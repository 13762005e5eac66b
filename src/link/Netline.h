#pragma once
// A serial line reached over the network: "rfc2217://HOST:PORT" speaks Telnet with the Com
// Port Control Option (the server's serial rate follows SetBaudRate), "tcp://HOST:PORT" is a
// raw TCP stream whose rate nobody can change. A lost connection fails Read and Write with
// "connection closed by HOST:PORT".
//
// Every wait is bounded: the connect, each acknowledgment of a com-port command, reads (as
// the caller asks) and writes. Received data waits in a bounded queue between reads.
#include <cstdint>
#include <string>
#include <vector>

#include "link/Line.h"
#include "link/Netaddress.h"
#include "link/Netsocket.h"
#include "link/Telnetcodec.h"

class NetLine final : public Line {
  public:
    static constexpr int kConnectMs = 5000;
    static constexpr int kAnswerMs = 3000;
    // Received data held beyond this is dropped (a reader that stopped reading).
    static constexpr size_t kMaxPending = size_t{1} << 20;

    // `name`: the device name the line is made for, so that it can tell what it can do
    // before it is opened.
    explicit NetLine(const std::string& name = {});
    ~NetLine() override;

    bool Open(const std::string& name, uint32_t baudRate, int parity = 0) override;
    void Close() override;
    bool IsOpen() const override { return socket_ != kNoSocket; }
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override;
    bool Write(const uint8_t* buffer, uint32_t count, uint32_t* written = nullptr) override;
    // Waits until what was written has had time to leave the server's serial port at the old
    // rate, then asks for the new one and waits for the server's acknowledgment. A fixed-rate
    // line refuses any rate but its own.
    bool SetBaudRate(uint32_t baudRate) override;
    void Purge() override;
    // Closing would end the connection, and the server would drop what it still holds for
    // the receiver: the rate changes in place.
    bool Reopen(uint32_t baudRate) override { return SetBaudRate(baudRate); }
    bool CanChangeRate() const override;
    std::string RateRefusal() const override;

    const SocketError& LastError() const { return error_; }

  private:
    bool OpenNet(const std::string& name, uint32_t baudRate, int parity);
    bool ReadNet(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs, bool blocking);
    bool WriteNet(const uint8_t* buffer, uint32_t count, uint32_t* written, bool blocking);
    bool SetRateNet(uint32_t baudRate);
    // Records the last failure as the line's error and passes the result on.
    bool Result(bool ok);

    enum class Pumped { kData, kNothing, kClosed, kFailed };

    bool Negotiate(uint32_t baudRate, int parity);
    bool AwaitAgreement();
    bool AwaitAnswer(uint8_t command, uint32_t& value);
    Pumped Pump(int timeoutMs);
    bool SendAll(const std::vector<uint8_t>& bytes, int64_t deadlineMs);
    bool SendReplies();
    void WaitForDrain() const;
    size_t PendingSize() const { return pending_.size() - pendingHead_; }
    uint32_t TakePending(uint8_t* buffer, uint32_t capacity);
    void Fail(const SocketError& error) { error_ = error; }
    void FailClosed();

    NetAddress address_;
    SocketHandle socket_ = kNoSocket;
    telnet::Decoder decoder_;
    std::vector<uint8_t> pending_;
    size_t pendingHead_ = 0;
    std::vector<uint8_t> decoded_;
    std::vector<uint8_t> outgoing_;
    bool closedByPeer_ = false;
    uint32_t baudRate_ = 0;
    int64_t drainEndUs_ = 0;  // when the bytes written so far have left the server's port
    SocketError error_;
    std::string madeFor_;  // the name the line was made for or opened with
};
