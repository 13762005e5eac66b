#pragma once
// A serial line reached over the network: "rfc2217://HOST:PORT" speaks Telnet with the Com
// Port Control Option (the server's serial rate follows SetBaudRate), "tcp://HOST:PORT" is a
// raw TCP stream whose rate nobody can change. A lost connection fails Read and Write with
// "connection closed by HOST:PORT".
//
// Every wait is bounded: the name lookup, the connect, each acknowledgment of a com-port
// command, reads (as the caller asks) and writes (a peer that takes nothing for kStallMs
// ends them). Open may run on a worker thread and be cancelled from another (SetCancel).
// Received data waits in a bounded queue between reads, data to send in a bounded queue
// between writes.
//
// Each answer of the server belongs to the request it answers: the server answers in order,
// so an answer that comes after its request timed out is recognised and dropped, and never
// taken for the answer to a later request of the same kind. Every value the server grants
// is checked against the one asked for.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/Line.h"
#include "link/Netaddress.h"
#include "link/Netsocket.h"
#include "link/Telnetcodec.h"

class NetLine final : public Line {
  public:
    static constexpr int kLookupMs = 5000;
    static constexpr int kConnectMs = 5000;  // for all of the host's addresses together
    static constexpr int kAnswerMs = 3000;
    // A peer that has taken none of the data waiting to be sent for this long fails the write.
    static constexpr int kStallMs = 10'000;
    // The longest a read or write waits in non-blocking mode.
    static constexpr int kNonBlockingMs = 100;
    // Received data held beyond this is dropped (a reader that stopped reading).
    static constexpr size_t kMaxPending = size_t{1} << 20;
    // Data to send held beyond this is refused (a peer that stopped reading).
    static constexpr size_t kMaxOutgoing = size_t{1} << 20;

    // `name`: the device name the line is made for, so that it can tell what it can do
    // before it is opened.
    explicit NetLine(const std::string& name = {});
    ~NetLine() override;

    // Asked, from the thread running Open, at each of Open's bounded waits (at least every
    // 50 ms); true abandons the open. Set before Open; stays for later opens.
    void SetCancel(std::function<bool()> cancelled) { cancel_ = std::move(cancelled); }
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
    bool IsRemote() const override { return true; }
    void SetOpenCancel(std::function<bool()> cancelled) override { SetCancel(std::move(cancelled)); }
    std::string Where() const override;
    // What a raw line's server held before the connection (a device's queued bytes, sent at
    // once on connecting) arrives within this long of the connect; a purge then drops it.
    static constexpr int kHeldBytesMs = 200;

    const SocketError& LastError() const { return error_; }

  private:
    bool OpenNet(const std::string& name, uint32_t baudRate, int parity);
    bool ReadNet(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs, bool blocking);
    bool WriteNet(const uint8_t* buffer, uint32_t count, uint32_t* written, bool blocking);
    bool SetRateNet(uint32_t baudRate);
    // Records the last failure as the line's error and passes the result on.
    bool Result(bool ok);

    // kControl: bytes arrived, but only Telnet commands among them.
    enum class Pumped { kData, kControl, kNothing, kClosed, kFailed };
    // A com-port command sent and not yet matched with its answer.
    struct Request {
        uint64_t id = 0;
        uint8_t command = 0;
        bool timedOut = false;  // its waiter has given up; the answer is dropped when it comes
        bool answered = false;
        uint32_t value = 0;
    };
    struct Setting {
        uint8_t command;
        uint32_t value;
        int bytes;
    };

    bool Negotiate(uint32_t baudRate, int parity);
    bool AwaitAgreement();
    uint64_t Ask(const Setting& setting, std::vector<uint8_t>& bytes);
    bool Transact(const std::vector<uint8_t>& request, uint64_t firstId, size_t count, const char* what,
                  std::vector<uint32_t>& values);
    void MatchAnswers();
    bool CheckGranted(const Setting& asked, uint32_t granted);
    Pumped Pump(int timeoutMs);
    Pumped Receive();
    int SliceMs(int64_t endMs) const;
    bool OpenCancelled() const;

    void Queue(const std::vector<uint8_t>& bytes);
    bool SendQueued();
    bool Flush(int64_t endMs);
    bool MakeRoom(size_t count);
    size_t OutgoingSize() const { return outgoing_.size() - outgoingHead_; }
    bool Stalled() const;
    bool Send(const std::vector<uint8_t>& bytes);
    void WaitForDrain();
    size_t PendingSize() const { return pending_.size() - pendingHead_; }
    uint32_t TakePending(uint8_t* buffer, uint32_t capacity);
    void Fail(const SocketError& error) { error_ = error; }
    void FailClosed();
    void FailStalled();
    void FailCancelled();

    NetAddress address_;
    SocketHandle socket_ = kNoSocket;
    std::function<bool()> cancel_;
    bool opening_ = false;
    telnet::Decoder decoder_;
    std::deque<Request> requests_;
    uint64_t nextRequestId_ = 0;
    std::vector<uint8_t> pending_;
    size_t pendingHead_ = 0;
    std::vector<uint8_t> decoded_;
    std::vector<uint8_t> outgoing_;  // escaped bytes not yet taken by the socket
    size_t outgoingHead_ = 0;
    int64_t lastTakenMs_ = 0;  // when the socket last took outgoing bytes
    bool closedByPeer_ = false;
    uint32_t baudRate_ = 0;
    int64_t drainEndUs_ = 0;  // when the bytes written so far have left the server's port
    SocketError error_;
    std::string madeFor_;  // the name the line was made for or opened with
    int64_t openedMs_ = 0;
};
