#pragma once
// The simulated receiver at the far end of a serial line. Start() creates a pseudo-terminal
// pair (or opens an existing serial device) and runs the receiver on a thread of its own; the
// program under test opens DevicePath() like any serial port. All queries and fault setters
// are safe to call from other threads while it runs.
#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "proto/Diagproto.h"
#include "sim/Receivermodel.h"
#include "sim/Simoptions.h"
#include "sim/Simrandom.h"
#include "sim/Simrecord.h"

class SimReceiver {
  public:
    explicit SimReceiver(SimOptions options = {});
    ~SimReceiver();
    SimReceiver(const SimReceiver&) = delete;
    SimReceiver& operator=(const SimReceiver&) = delete;

    // Creates the line and starts the receiver. False (with LastError) when the line could
    // not be set up.
    bool Start();
    // Stops the receiver and closes the line. Safe to call twice.
    void Stop();
    // The device the program opens: the pseudo-terminal's slave, or the served device.
    std::string DevicePath() const { return devicePath_; }
    std::string LastError() const;

    SimSettings Settings() const;
    SimVersion Version() const;
    SimMode Mode() const;
    CalPhase Calibration() const;
    uint32_t LineBaud() const;
    // The image received into RAM and the one programmed, bytes by address.
    SimImage RamImage() const;
    SimImage ProgrammedImage() const;
    // Writes the RAM image: S3 records when the name ends in .hex, .srec, .s19 or .mot,
    // otherwise raw bytes from the lowest address with holes filled with 0xFF.
    bool WriteImage(const std::string& path) const;
    // Everything sent and received so far, in order.
    std::vector<SimRecordEntry> Record() const;
    void ClearRecord();

    // Power off now and on again after the power-off time.
    void PowerCycle();
    void SetFaults(const SimFaults& faults);
    SimFaults Faults() const;
    void SetVehicleMoving(bool moving);
    // The device disappears now: the line is closed under the program's feet.
    void Vanish();
    bool Vanished() const { return vanished_; }

  private:
    bool OpenPty();
    bool OpenDevice();
    void Run();
    void Wake();
    int64_t NowMs() const;
    uint32_t PeerBaud() const;
    void ReadInput();
    void TakeByte(uint8_t byte, int64_t nowMs);
    void Deliver(const SimOutgoing& item);
    bool WritePaced(const std::vector<uint8_t>& bytes, uint32_t baud);
    std::vector<uint8_t> Corrupt(const std::vector<uint8_t>& bytes, uint32_t fromBaud, uint32_t toBaud,
                                 bool& damaged);
    void AddRecord(SimRecordEntry entry);
    void SwitchDeviceBaud(uint32_t baud);
    void SwitchBaud(uint32_t baud);
    void SwitchBaudWhenDue(int64_t nowMs);
    void AwaitLineDrained();
    void CloseLine();

    const SimOptions options_;
    std::string devicePath_;
    int64_t startMs_ = 0;
    int masterFd_ = -1;  // pty master, or the served device
    int slaveFd_ = -1;   // held open so the line stays up while the program reopens it
    int wakePipe_[2] = {-1, -1};
    bool serveDevice_ = false;

    mutable std::mutex mutex_;  // guards everything below
    std::unique_ptr<ReceiverModel> model_;
    DiagProto framer_;
    SimRandom random_;
    std::vector<SimRecordEntry> record_;
    std::ofstream recordFile_;
    std::string lastError_;
    bool powerCycleRequested_ = false;
    bool vanishRequested_ = false;
    uint32_t delayedBaud_ = 0;  // a rate change still to take effect (0: none)
    int64_t delayedBaudAtMs_ = 0;

    std::atomic<bool> stop_{false};
    std::atomic<bool> vanished_{false};
    std::thread thread_;
};
