#pragma once
// A scripted receiver bootloader on the master side of a real pseudo-terminal, and the port
// that the sequence under test uses on the slave side.
//
// Time is the fake clock's. The port lets the fake time pass only while the whole link is
// quiet: the peer has handled every byte written to it, every byte it sent has been read, and
// none of its scheduled replies is due. So a 120-second wait runs in milliseconds, yet no
// reply can be overtaken by a time-out that real scheduling delays would cause.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LoaderFakeClock.h"
#include "link/Serialport.h"
#include "loader/Loadsequence.h"
#include "proto/Diagproto.h"

// One reply the peer sends: code and value, after delayMs of fake time, with a payload cut
// to payloadBytes.
struct PeerReply {
    uint8_t code = X1F_PASS;
    uint32_t value = 0;
    int64_t delayMs = 0;
    uint16_t payloadBytes = x1f::kPayloadSize;
};
using PeerAnswer = std::vector<PeerReply>;  // empty: no answer at all

struct PeerCommand {
    uint8_t code;
    uint32_t value;
    uint16_t dataLength;
    int nth;  // 1 for the first command of this code since the peer started
};

class BootPeer {
  public:
    // Overrides the default answer to a command; nullopt keeps the default.
    using Script = std::function<std::optional<PeerAnswer>(const PeerCommand&)>;

    BootPeer(LoaderFakeClock& clock);
    ~BootPeer();
    BootPeer(const BootPeer&) = delete;
    BootPeer& operator=(const BootPeer&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    void SetScript(Script script);
    // Configuration messages are answered from the nth request after the power cycle (0: never).
    void AnswerVersionFrom(int nth) { versionFrom_ = nth; }
    // The receiver restarts into its bootloader (at 19200).
    void EnterBootloader();
    // The bootloader ignores X1F_SETBAUD and stays at 19200.
    void KeepBaud() { keepBaud_ = true; }
    // The device vanishes (the master side closes) when the nth block arrives.
    void VanishAtBlock(int nth) { vanishAtBlock_ = nth; }
    // Every reply comes after an NMEA sentence and a frame of another message id.
    void Noisy() { noisy_ = true; }
    // Sends bytes as they stand (noise, frames of other ids) right now.
    void SendRaw(const std::vector<uint8_t>& bytes);

    // For the port: true once the peer has taken this many bytes off the line.
    bool Took(uint64_t writtenByPort);
    // For the port: true when nothing more can arrive without time passing.
    bool Quiet(uint64_t writtenByPort, uint64_t readByPort);

    // What arrived: the image of the latest download and every command code in order.
    std::map<uint32_t, uint8_t> Image();
    std::vector<PeerCommand> Commands();
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> Blocks();
    int Downloads();
    uint32_t Rate();

  private:
    void Run();
    void HandleBytes(const uint8_t* bytes, size_t n);
    void HandleFrame();
    void HandleCommand(const X1fPayload& command, const uint8_t* data);
    PeerAnswer DefaultAnswer(const PeerCommand& command);
    void Queue(const PeerAnswer& answer);
    void SendDue();
    void SendLocked(const std::vector<uint8_t>& bytes);
    uint32_t SlaveRate();

    LoaderFakeClock& clock_;
    int master_ = -1;
    int keeper_ = -1;  // a slave descriptor held open so that a reopen never hangs the line up
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    // Guarded by mutex_:
    Script script_;
    DiagFrameState parser_;
    uint8_t frame_[1024] = {};
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> pending_;  // due time (ms), bytes
    uint64_t processed_ = 0;
    uint64_t sent_ = 0;
    uint32_t rate_ = 19200;
    bool keepBaud_ = false;
    bool application_ = false;  // after the power cycle: the new software answers requests
    int versionFrom_ = 1;
    int versionRequests_ = 0;
    int vanishAtBlock_ = 0;
    bool vanished_ = false;
    std::map<uint8_t, int> counts_;
    std::vector<PeerCommand> commands_;
    bool noisy_ = false;
    std::map<uint32_t, uint8_t> image_;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> blocks_;
    int downloads_ = 0;
};

// The slave side of the pseudo-terminal, opened with the program's serial layer, as the
// sequence's port; it lets fake time pass only while the link is quiet.
class PtyPort final : public LoaderPort {
  public:
    PtyPort(BootPeer& peer, LoaderFakeClock& clock) : peer_(peer), clock_(clock) {}
    ~PtyPort() override { Close(); }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Closes (draining) first when open, as a reopen at another rate does.
    bool Open(const std::string& path, uint32_t baud) {
        Close();
        return serial_.Open(path, baud);
    }
    void Close();
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override;
    bool Write(const uint8_t* buffer, uint32_t count) override;
    bool IsOpen() const override { return serial_.IsOpen(); }
    std::string LastErrorText() const override { return serial_.LastErrorText(); }

  private:
    BootPeer& peer_;
    LoaderFakeClock& clock_;
    SerialPort serial_;
    uint64_t written_ = 0;
    uint64_t read_ = 0;
};
