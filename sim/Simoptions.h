#pragma once
// Everything that shapes one simulated receiver: the settings it starts with, its identity,
// its timing and the faults it injects. Plain data; the command line and tests fill it.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "proto/Linerates.h"
#include "proto/Messages.h"

// The settings that message 216 carries.
struct SimSettings {
    uint32_t nmeaMask = config::kMaskGGA | config::kMaskRMC;
    uint8_t nmeaRate = 1;  // sentences per second: 1 or 5
    uint32_t baudRate = 19200;
    int32_t defaultChannel = 1000;  // 1525.5 MHz
    uint8_t altFreqInUse = 0;
    int32_t altChannel = 0;
    uint8_t waasOn = 1;
    uint8_t correctionsOff = 0;
    uint8_t tcmOn = 1;
    uint8_t lcHeight = 60;  // inches
    uint8_t foreAftEditable = 1;
    uint8_t lcForeAft = 12;  // inches
    uint8_t tcmForward = 1;
    uint8_t tcmCalibrated = 0;

    bool operator==(const SimSettings&) const = default;
};

struct SimVersion {
    uint8_t major = 1;
    uint8_t minor = 0;
    std::string suffix = "SIM";  // three characters on the wire; shorter is padded with zero bytes

    bool operator==(const SimVersion&) const = default;
};

// The identity that message 218 carries.
struct SimHardware {
    int32_t serialNumber = 5200417;
    std::string partNumber = "LT-2000-0100";  // at most 16 characters
    std::string compatibility = "C0102";      // at most 5 characters
    int32_t versionNumber = 3;
};

// Durations in milliseconds of real time; each is multiplied by timeScale when used, so a
// test can run a two-minute programming in a fraction of a second.
struct SimTiming {
    int64_t calibrationMs = 2000;      // one level measurement
    int64_t programMs = 6000;          // X1F_PROGRAM until X1F_PASS
    int64_t workingIntervalMs = 2000;  // X1F_WORKING while programming
    int64_t powerCycleAfterMs = 5000;  // after programming; 0 waits for a manual power cycle
    int64_t powerOffMs = 500;          // how long a power cycle keeps the receiver dark
    int64_t statusIntervalMs = 1000;   // own binary frames when no sentence is selected
    double timeScale = 1.0;            // applies to the above and to the pacing of the line
};

// Faults that can also be changed while the receiver runs.
struct SimFaults {
    double bitErrorRate = 0.0;                // each bit of each byte, both directions
    double dropRate = 0.0;                    // each byte, both directions
    std::set<uint8_t> noReplyTo;              // message ids: requests for them and commands in them
    std::set<uint8_t> noReplyX1f;             // bootloader command codes left unanswered
    std::map<uint8_t, uint8_t> x1fReplyCode;  // bootloader command code -> reply code to give
    bool reject255 = false;                   // every binary frame of the running software has id 255
    bool mutedUntilLoad = false;              // the running software answers nothing until new software runs
    bool silent = false;                      // sends nothing at all
    bool otherTalkersOnly = false;            // only sentences of other talkers ($GL, $BD); no frames
    bool noLineEnds = false;                  // sentences leave without CR LF: one line that never ends
    int vanishAfterLoads = -1;                // close the line after this many X1F_LOAD blocks; -1 never
    // A rate change (X1F_SETBAUD, or the baud rate of message 216) takes effect this many real
    // milliseconds (not scaled) after its answer has gone out; the receiver listens at the old
    // rate until then.
    int64_t rateSwitchDelayMs = 0;

    bool operator==(const SimFaults&) const = default;
};

struct SimOptions {
    SimSettings settings;
    SimVersion version;
    std::optional<SimVersion> newVersion;  // after a software load; default: minor + 1
    SimHardware hardware;
    SimTiming timing;
    SimFaults faults;
    int32_t calibrationValue = 100;  // reported with state 7
    bool vehicleMoving = false;      // a calibration start is refused with state 2
    bool crcSupported = true;        // false: the CRC commands get X1F_BADCMD
    bool crcAllowsGaps = false;      // true: blocks may leave holes (an image of separate regions)
    uint64_t randomStart = 1;        // noise, drops and garbling are reproducible from this
    std::string recordPath;          // also write the record to this file, one line per entry
    std::string devicePath;          // serve this existing serial device instead of a pty
};

// The rates the receiver can run at.
inline bool IsSupportedBaudRate(uint32_t baud) {
    return IsOneOf(kLineRates, baud);
}
