#pragma once
// What the receiver does, apart from the line: answers requests, applies settings, runs the
// level calibration and the bootloader, and sends sentences or its own frames unasked. It
// takes whole frames and the time, and queues what it sends; the line paces and delivers it.
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/Simbootloader.h"
#include "sim/Simoptions.h"
#include "sim/Simrecord.h"

struct SimOutgoing {
    SimKind kind = SimKind::kFrame;
    std::vector<uint8_t> bytes;
    uint32_t baudAfter = 0;    // once these bytes are on the wire, talk at this rate
    bool vanishAfter = false;  // once these bytes are on the wire, the device disappears
};

enum class SimMode : uint8_t {
    kRunning,      // the receiver software: sentences, settings, calibration
    kBootloader,   // entered by X1F_PING
    kProgramming,  // X1F_PROGRAM under way
    kProgrammed,   // programming done; still the bootloader, waiting for a power cycle
    kPoweredOff,   // dark for a moment during a power cycle
};

// The level calibration as the receiver sees it.
enum class CalPhase : uint8_t { kIdle, kMeasuringFirst, kFirstDone, kMeasuringSecond, kComplete, kMustStop };

// The receiver's own status frame, sent once a second when no sentence is selected.
constexpr uint8_t kSimStatusId = 0xB0;

class ReceiverModel {
  public:
    ReceiverModel(const SimOptions& options, int64_t nowMs);

    // A frame with a good checksum, as received (sync bytes to trailer).
    void OnFrame(const uint8_t* frame, uint16_t length, int64_t nowMs);
    // Lets time pass: measurements, programming, sentences, the automatic power cycle.
    void Tick(int64_t nowMs);
    // Power off now; back on after the power-off time, running (new software if programmed).
    void PowerCycle(int64_t nowMs);
    // The line calls this once it has applied an outgoing item's baudAfter.
    void SetLineBaud(uint32_t baud) { lineBaud_ = baud; }

    std::deque<SimOutgoing>& Output() { return output_; }
    // When Tick next has something to do.
    int64_t NextEventMs() const;

    uint32_t LineBaud() const { return lineBaud_; }
    SimMode Mode() const { return mode_; }
    const SimSettings& Settings() const { return settings_; }
    const SimVersion& Version() const { return version_; }
    CalPhase Calibration() const { return calPhase_; }
    const SimBootloader& Bootloader() const { return bootloader_; }
    const SimFaults& Faults() const { return faults_; }
    void SetFaults(const SimFaults& faults) { faults_ = faults; }
    void SetVehicleMoving(bool moving) { moving_ = moving; }

  private:
    int64_t Scaled(int64_t ms) const;
    void Emit(SimKind kind, std::vector<uint8_t> bytes, uint32_t baudAfter = 0, bool vanishAfter = false);
    void EmitFrame(uint8_t id, const std::vector<uint8_t>& payload, uint32_t baudAfter = 0,
                   bool vanishAfter = false);

    void OnRequest(const uint8_t* payload, uint16_t length);
    void OnConfig(const uint8_t* payload, uint16_t length, int64_t nowMs);
    void OnBootloader(const uint8_t* payload, uint16_t length, int64_t nowMs);
    uint32_t ApplySettings(const uint8_t* payload);
    uint8_t RunCalibrationCommand(uint8_t command, int64_t nowMs);
    void SendConfig(uint8_t calibrationState, uint32_t baudAfter);
    void SendHardware();
    void SendX1f(uint8_t code, uint32_t value, uint32_t baudAfter = 0, bool vanishAfter = false);
    void StartProgramming(int64_t nowMs);

    void TickCalibration(int64_t nowMs);
    void TickProgramming(int64_t nowMs);
    void TickPower(int64_t nowMs);
    void TickOutput(int64_t nowMs);

    SimOptions options_;
    SimFaults faults_;
    SimSettings settings_;
    SimVersion version_;
    bool moving_;
    uint32_t lineBaud_;
    SimMode mode_ = SimMode::kRunning;
    int64_t startMs_;

    CalPhase calPhase_ = CalPhase::kIdle;
    int64_t calDoneAtMs_ = 0;

    SimBootloader bootloader_;
    int64_t programEndMs_ = 0;
    int64_t nextWorkingMs_ = 0;
    int64_t autoPowerCycleMs_ = 0;  // 0: none pending
    int64_t powerOnMs_ = 0;
    bool newSoftwareOnPowerUp_ = false;

    int64_t nextOutputMs_ = 0;

    std::deque<SimOutgoing> output_;
};
