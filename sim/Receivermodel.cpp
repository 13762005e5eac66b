#include "sim/Receivermodel.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "proto/Bytes.h"
#include "proto/Frame.h"
#include "sim/Nmeasource.h"

namespace {

constexpr uint32_t kPowerUpBaud = 19200;
constexpr int64_t kNever = INT64_MAX;

// The reported value of byte 73 for each phase; 0 while there is nothing to report.
uint8_t ReportedState(CalPhase phase) {
    switch (phase) {
        case CalPhase::kFirstDone:
            return config::kCalFirstDone;
        case CalPhase::kComplete:
            return config::kCalComplete;
        case CalPhase::kMustStop:
            return config::kCalMustStop;
        default:
            return 0;
    }
}

bool IsCalibrationCommand(uint8_t command) {
    return command == config::kCalPoll || command == config::kCalAbort || command == config::kCalStartFirst ||
           command == config::kCalStartSecond;
}

int64_t WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

SimVersion NextVersion(const SimOptions& options) {
    if (options.newVersion) {
        return *options.newVersion;
    }
    SimVersion next = options.version;
    next.minor = static_cast<uint8_t>(next.minor + 1);
    return next;
}

void PutText(std::vector<uint8_t>& payload, uint16_t offset, uint16_t size, const std::string& text) {
    for (uint16_t i = 0; i < size && i < text.size(); ++i) {
        payload[offset + i] = static_cast<uint8_t>(text[i]);
    }
}

}  // namespace

ReceiverModel::ReceiverModel(const SimOptions& options, int64_t nowMs)
    : options_(options),
      faults_(options.faults),
      settings_(options.settings),
      version_(options.version),
      moving_(options.vehicleMoving),
      lineBaud_(options.settings.baudRate),
      startMs_(nowMs),
      bootloader_(options.crcSupported, options.crcAllowsGaps),
      nextOutputMs_(nowMs) {}

int64_t ReceiverModel::Scaled(int64_t ms) const {
    return std::max<int64_t>(0, std::llround(static_cast<double>(ms) * options_.timing.timeScale));
}

void ReceiverModel::Emit(SimKind kind, std::vector<uint8_t> bytes, uint32_t baudAfter, bool vanishAfter) {
    if (faults_.silent || (faults_.otherTalkersOnly && kind == SimKind::kFrame)) {
        // Nothing goes out, but a rate switch or a disappearance still happens.
        if (baudAfter != 0 || vanishAfter) {
            output_.push_back({kind, {}, baudAfter, vanishAfter});
        }
        return;
    }
    if (faults_.noLineEnds && kind == SimKind::kSentence) {
        while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) {
            bytes.pop_back();
        }
    }
    output_.push_back({kind, std::move(bytes), baudAfter, vanishAfter});
}

void ReceiverModel::EmitFrame(uint8_t id, const std::vector<uint8_t>& payload, uint32_t baudAfter,
                              bool vanishAfter) {
    std::vector<uint8_t> frame(payload.size() + frame::kOverhead);
    build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), frame.data());
    Emit(SimKind::kFrame, std::move(frame), baudAfter, vanishAfter);
}

void ReceiverModel::OnFrame(const uint8_t* frame, uint16_t length, int64_t nowMs) {
    if (mode_ == SimMode::kPoweredOff || length < frame::kOverhead) {
        return;
    }
    const uint8_t id = frame[frame::kIdOffset];
    const uint8_t* payload = frame + frame::kPayloadOffset;
    const auto payloadLength = static_cast<uint16_t>(length - frame::kOverhead);
    if (faults_.noReplyTo.count(id) != 0) {
        return;
    }
    const bool running = mode_ == SimMode::kRunning && !faults_.mutedUntilLoad;
    if (id == msgid::kRequest && running) {
        OnRequest(payload, payloadLength);
    } else if (id == msgid::kConfig && running) {
        OnConfig(payload, payloadLength, nowMs);
    } else if (id == msgid::kBootloader) {
        OnBootloader(payload, payloadLength, nowMs);
    }
}

void ReceiverModel::OnRequest(const uint8_t* payload, uint16_t length) {
    if (length < request::kPayloadSize) {
        return;
    }
    const uint8_t wanted = payload[request::kRequestedId];
    if (faults_.noReplyTo.count(wanted) != 0) {
        return;
    }
    if (wanted == msgid::kConfig) {
        SendConfig(0, 0);
    } else if (wanted == msgid::kHardware) {
        SendHardware();
    }
}

// One reply per configuration frame: the settings as they now stand, with the calibration
// state when the frame carried a calibration command. A baud change waits for that reply.
void ReceiverModel::OnConfig(const uint8_t* payload, uint16_t length, int64_t nowMs) {
    if (length < config::kPayloadSize) {
        return;  // too short to hold the fields it would be read for
    }
    const bool writes = (payload[config::kCommand] & config::kCommandWriteSettings) != 0;
    const uint8_t calCommand = payload[config::kCalibrationCommand];
    const bool calibrates = IsCalibrationCommand(calCommand);
    if (!writes && !calibrates) {
        return;
    }
    const uint32_t newBaud = writes ? ApplySettings(payload) : 0;
    const uint8_t state = calibrates ? RunCalibrationCommand(calCommand, nowMs) : 0;
    SendConfig(state, newBaud);
}

// Applies each group whose flag byte is 1. Returns the new line rate, or 0 when it stays.
// Values the receiver cannot take (an unknown rate, a height outside 1-200, a sentence rate
// other than 1 or 5) leave that setting as it was.
uint32_t ReceiverModel::ApplySettings(const uint8_t* p) {
    if (p[config::kNmeaFlag] == 1) {
        settings_.nmeaMask = get_le32(p + config::kNmeaMask);
        const uint8_t rate = p[config::kNmeaRate];
        if (rate == 1 || rate == 5) {
            settings_.nmeaRate = rate;
        }
    }
    if (p[config::kFreqFlag] == 1) {
        settings_.altFreqInUse = p[config::kAltFreqInUse] != 0 ? 1 : 0;
        if (settings_.altFreqInUse != 0) {
            settings_.altChannel = get_le32s(p + config::kAltChannel);
        }
        settings_.waasOn = p[config::kWaasOn] != 0 ? 1 : 0;
        settings_.correctionsOff = p[config::kCorrectionsOff] != 0 ? 1 : 0;
    }
    if (p[config::kTcmFlag] == 1) {
        settings_.tcmOn = p[config::kTcmOn] != 0 ? 1 : 0;
        settings_.tcmForward = p[config::kTcmForward] != 0 ? 1 : 0;
        const auto inRange = [](uint8_t inches) { return inches >= 1 && inches <= 200; };
        if (inRange(p[config::kLcHeight])) {
            settings_.lcHeight = p[config::kLcHeight];
        }
        if (inRange(p[config::kLcForeAft])) {
            settings_.lcForeAft = p[config::kLcForeAft];
        }
    }
    if (p[config::kBaudFlag] == 1) {
        const uint32_t baud = get_le32(p + config::kBaudRate);
        if (IsSupportedBaudRate(baud) && baud != lineBaud_) {
            settings_.baudRate = baud;
            return baud;
        }
    }
    return 0;
}

uint8_t ReceiverModel::RunCalibrationCommand(uint8_t command, int64_t nowMs) {
    const auto start = [&](CalPhase measuring) {
        calPhase_ = moving_ ? CalPhase::kMustStop : measuring;
        calDoneAtMs_ = nowMs + Scaled(options_.timing.calibrationMs);
    };
    switch (command) {
        case config::kCalStartFirst:
            start(CalPhase::kMeasuringFirst);
            break;
        case config::kCalStartSecond:
            // The second measurement needs the first; otherwise the command changes nothing.
            if (calPhase_ == CalPhase::kFirstDone) {
                start(CalPhase::kMeasuringSecond);
            }
            break;
        case config::kCalAbort:
            calPhase_ = CalPhase::kIdle;
            break;
        default:  // poll
            break;
    }
    return ReportedState(calPhase_);
}

void ReceiverModel::SendConfig(uint8_t calibrationState, uint32_t baudAfter) {
    std::vector<uint8_t> p(config::kPayloadSize, 0);
    p[config::kCommand] = config::kCommandNone;
    p[config::kVersionMajor] = version_.major;
    p[config::kVersionMinor] = version_.minor;
    PutText(p, config::kVersionSuffix, config::kVersionSuffixSize, version_.suffix);
    p[config::kNmeaFlag] = 1;
    put_le32(&p[config::kNmeaMask], settings_.nmeaMask);
    p[config::kNmeaRate] = settings_.nmeaRate;
    p[config::kBaudFlag] = 1;
    put_le32(&p[config::kBaudRate], settings_.baudRate);
    put_le32(&p[config::kDefaultChannel], static_cast<uint32_t>(settings_.defaultChannel));
    p[config::kFreqFlag] = 1;
    p[config::kAltFreqInUse] = settings_.altFreqInUse;
    put_le32(&p[config::kAltChannel], static_cast<uint32_t>(settings_.altChannel));
    p[config::kWaasOn] = settings_.waasOn;
    p[config::kCorrectionsOff] = settings_.correctionsOff;
    p[config::kTcmFlag] = 1;
    p[config::kTcmOn] = settings_.tcmOn;
    p[config::kLcHeight] = settings_.lcHeight;
    p[config::kForeAftEditable] = settings_.foreAftEditable;
    p[config::kLcForeAft] = settings_.lcForeAft;
    p[config::kTcmForward] = settings_.tcmForward;
    p[config::kTcmCalibrated] = settings_.tcmCalibrated;
    p[config::kCalibrationCommand] = calibrationState;
    if (calibrationState == config::kCalComplete) {
        put_le32(&p[config::kCalibrationValue], static_cast<uint32_t>(options_.calibrationValue));
    }
    EmitFrame(faults_.reject255 ? msgid::kRejected : msgid::kConfig, p, baudAfter);
}

void ReceiverModel::SendHardware() {
    const SimHardware& hw = options_.hardware;
    std::vector<uint8_t> p(hardware::kPayloadSize, 0);
    put_le32(&p[hardware::kSerialNumber], static_cast<uint32_t>(hw.serialNumber));
    PutText(p, hardware::kPartNumber, hardware::kPartNumberSize, hw.partNumber);
    PutText(p, hardware::kCompatibility, hardware::kCompatibilitySize, hw.compatibility);
    put_le32(&p[hardware::kVersionNumber], static_cast<uint32_t>(hw.versionNumber));
    EmitFrame(faults_.reject255 ? msgid::kRejected : msgid::kHardware, p);
}

void ReceiverModel::SendX1f(uint8_t code, uint32_t value, uint32_t baudAfter, bool vanishAfter) {
    std::vector<uint8_t> p(x1f::kPayloadSize, 0);
    p[x1f::kCode] = code;
    put_le32(&p[x1f::kValue], value);
    EmitFrame(msgid::kBootloader, p, baudAfter, vanishAfter);
}

void ReceiverModel::OnBootloader(const uint8_t* payload, uint16_t length, int64_t nowMs) {
    if (length < x1f::kMinReplyPayload || mode_ == SimMode::kProgramming) {
        return;  // busy programming: commands are not taken
    }
    X1fCommand command;
    command.code = payload[x1f::kCode];
    command.dataLength = get_le16(payload + x1f::kDataLength);
    command.value = get_le32(payload + x1f::kValue);
    command.data = payload + x1f::kData;
    if (faults_.noReplyX1f.count(command.code) != 0) {
        return;
    }
    const auto overridden = faults_.x1fReplyCode.find(command.code);
    if (overridden != faults_.x1fReplyCode.end()) {
        SendX1f(overridden->second, 0);  // the forced answer; the command has no effect
        return;
    }
    // The data must lie within the frame that carried it.
    if (command.dataLength > x1f::kDataSize || x1f::kData + command.dataLength > length) {
        SendX1f(x1f::kBadLength, 0);
        return;
    }
    if (mode_ == SimMode::kRunning) {
        // The running software knows only the probe, which hands over to the bootloader.
        if (command.code == x1f::kPing) {
            mode_ = SimMode::kBootloader;
            calPhase_ = CalPhase::kIdle;
        }
        SendX1f(command.code == x1f::kPing ? x1f::kPass : x1f::kBadCmd, 0);
        return;
    }
    if (command.code == x1f::kSetBaud) {
        const bool ok = IsSupportedBaudRate(command.value);
        SendX1f(ok ? x1f::kPass : x1f::kFail, 0, ok ? command.value : 0);
        return;
    }
    if (command.code == x1f::kProgram) {
        StartProgramming(nowMs);
        return;
    }
    const X1fReply reply = bootloader_.Handle(command);
    const bool vanish = command.code == x1f::kLoad && faults_.vanishAfterLoads >= 0 &&
                        bootloader_.LoadsReceived() >= static_cast<uint32_t>(faults_.vanishAfterLoads);
    SendX1f(reply.code, reply.value, 0, vanish);
}

void ReceiverModel::StartProgramming(int64_t nowMs) {
    const uint8_t code = bootloader_.ProgramStartCode();
    if (code != x1f::kPass) {
        SendX1f(code, 0);
        return;
    }
    mode_ = SimMode::kProgramming;
    programEndMs_ = nowMs + Scaled(options_.timing.programMs);
    nextWorkingMs_ = nowMs + Scaled(options_.timing.workingIntervalMs);
}

void ReceiverModel::PowerCycle(int64_t nowMs) {
    newSoftwareOnPowerUp_ = bootloader_.Programmed() && mode_ == SimMode::kProgrammed;
    mode_ = SimMode::kPoweredOff;
    powerOnMs_ = nowMs + Scaled(options_.timing.powerOffMs);
    autoPowerCycleMs_ = 0;
    calPhase_ = CalPhase::kIdle;
    output_.clear();
}

void ReceiverModel::Tick(int64_t nowMs) {
    TickPower(nowMs);
    TickCalibration(nowMs);
    TickProgramming(nowMs);
    TickOutput(nowMs);
}

void ReceiverModel::TickPower(int64_t nowMs) {
    if (autoPowerCycleMs_ != 0 && nowMs >= autoPowerCycleMs_) {
        PowerCycle(nowMs);
    }
    if (mode_ != SimMode::kPoweredOff || nowMs < powerOnMs_) {
        return;
    }
    mode_ = SimMode::kRunning;
    if (newSoftwareOnPowerUp_) {
        // The new software starts with its own default rate and reports its own version.
        version_ = NextVersion(options_);
        settings_.baudRate = kPowerUpBaud;
        faults_.mutedUntilLoad = false;
    }
    lineBaud_ = settings_.baudRate;
    newSoftwareOnPowerUp_ = false;
    nextOutputMs_ = nowMs;
}

void ReceiverModel::TickCalibration(int64_t nowMs) {
    const bool measuring = calPhase_ == CalPhase::kMeasuringFirst || calPhase_ == CalPhase::kMeasuringSecond;
    if (!measuring || nowMs < calDoneAtMs_) {
        return;
    }
    if (moving_) {
        calPhase_ = CalPhase::kMustStop;
    } else if (calPhase_ == CalPhase::kMeasuringFirst) {
        calPhase_ = CalPhase::kFirstDone;
    } else {
        calPhase_ = CalPhase::kComplete;
        settings_.tcmCalibrated = 1;
    }
}

void ReceiverModel::TickProgramming(int64_t nowMs) {
    if (mode_ != SimMode::kProgramming) {
        return;
    }
    const int64_t interval = std::max<int64_t>(1, Scaled(options_.timing.workingIntervalMs));
    while (nextWorkingMs_ <= nowMs && nextWorkingMs_ < programEndMs_) {
        SendX1f(x1f::kWorking, 0);
        nextWorkingMs_ += interval;
    }
    if (nowMs < programEndMs_) {
        return;
    }
    bootloader_.FinishProgram();
    mode_ = SimMode::kProgrammed;
    SendX1f(x1f::kPass, 0);
    if (options_.timing.powerCycleAfterMs > 0) {
        autoPowerCycleMs_ = nowMs + std::max<int64_t>(1, Scaled(options_.timing.powerCycleAfterMs));
    }
}

void ReceiverModel::TickOutput(int64_t nowMs) {
    if (mode_ != SimMode::kRunning || nowMs < nextOutputMs_) {
        return;
    }
    const double elapsedS = static_cast<double>(nowMs - startMs_) / 1000.0;
    if (faults_.otherTalkersOnly) {
        for (const std::string& s : NmeaSource::OtherTalkers(WallMs())) {
            Emit(SimKind::kSentence, std::vector<uint8_t>(s.begin(), s.end()));
        }
        nextOutputMs_ = nowMs + std::max<int64_t>(1, Scaled(1000));
        return;
    }
    if (settings_.nmeaMask == 0) {
        std::vector<uint8_t> status(12, 0);
        put_le32(&status[0], static_cast<uint32_t>(elapsedS));
        status[4] = 9;  // satellites in use
        status[5] = 2;  // differential fix
        status[6] = static_cast<uint8_t>(calPhase_);
        EmitFrame(faults_.reject255 ? msgid::kRejected : kSimStatusId, status);
        nextOutputMs_ = nowMs + std::max<int64_t>(1, Scaled(options_.timing.statusIntervalMs));
        return;
    }
    // A fix belongs to an epoch: its time is the wall time rounded down to the epoch period.
    const int64_t periodMs = 1000 / std::max<int>(1, settings_.nmeaRate);
    const int64_t epochMs = WallMs() / periodMs * periodMs;
    for (const std::string& s : NmeaSource::Epoch(settings_.nmeaMask, epochMs, elapsedS)) {
        Emit(SimKind::kSentence, std::vector<uint8_t>(s.begin(), s.end()));
    }
    // Keep the cadence: the next epoch is one period after this one's due time, not after
    // the moment it went out; a receiver that fell behind starts afresh.
    nextOutputMs_ += std::max<int64_t>(1, Scaled(periodMs));
    if (nextOutputMs_ <= nowMs) {
        nextOutputMs_ = nowMs + std::max<int64_t>(1, Scaled(periodMs));
    }
}

int64_t ReceiverModel::NextEventMs() const {
    int64_t next = kNever;
    if (mode_ == SimMode::kRunning) {
        next = nextOutputMs_;
    }
    if (calPhase_ == CalPhase::kMeasuringFirst || calPhase_ == CalPhase::kMeasuringSecond) {
        next = std::min(next, calDoneAtMs_);
    }
    if (mode_ == SimMode::kProgramming) {
        next = std::min({next, nextWorkingMs_, programEndMs_});
    }
    if (mode_ == SimMode::kPoweredOff) {
        next = std::min(next, powerOnMs_);
    }
    if (autoPowerCycleMs_ != 0) {
        next = std::min(next, autoPowerCycleMs_);
    }
    return next;
}
