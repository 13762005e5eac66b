#pragma once
// The configuration message (216): the receiver's settings, what Apply sends, and the
// calibration commands that travel in the same message. No Qt: the setup dialog and the
// command-line tool share it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "proto/Messages.h"

using ConfigPayload = std::array<uint8_t, config::kPayloadSize>;

// The setup dialog's copy of the settings.
struct ReceiverSettings {
    int32_t BaudRate = 19200;
    uint32_t NmeaMask = 0;
    int32_t NmeaRate = 1;
    uint8_t WaasOn = 0;
    uint8_t CorrectionsOff = 0;
    uint8_t AltFreq = 0;
    int32_t Channel = 0;
    uint8_t TcmOn = 0;
    int32_t LcHeight = 0;
    uint8_t ForeAftEditable = 0;
    int32_t LcForeAft = 0;
    uint8_t TcmForward = 0;
    uint8_t TcmCalibrated = 0;
};

// The software version a configuration reply carries.
struct SoftwareVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    std::string suffix;        // up to three characters, to the first zero
    std::string Text() const;  // "2.5ab"
};

// Correction channel numbers and the frequencies shown for them.
double ChannelToMHz(int32_t channel);
// Rounds to the nearest channel, so that every frequency shown returns to its own channel.
// Throws std::invalid_argument with a message for text that is not a number.
int32_t MHzToChannel(const std::string& mhzText);
// "1545.5": up to 15 significant digits, no trailing zeros.
std::string FormatGeneral(double value);

// The L band in which correction satellites broadcast: what the tool and a setup file take as
// an alternate correction frequency. The setup dialog itself sends any number typed.
inline constexpr double kMinCorrectionMHz = 1525.0;
inline constexpr double kMaxCorrectionMHz = 1560.0;
// Why the text cannot be taken as a correction frequency ("'abc' is not a valid floating point
// value", "1500 is out of range (1525 to 1560 MHz)"); empty when it can.
std::string CorrectionFrequencyProblem(const std::string& mhzText);

// Reads the fields of a configuration reply (the payload, after the frame header). Returns
// nothing when the payload is too short to hold every field read: such a reply is ignored.
// BaudRate is not taken from the reply: the caller keeps the PC side's rate.
std::optional<ReceiverSettings> DecodeConfigReply(const uint8_t* payload, size_t length,
                                                  int32_t linkBaudRate);
std::optional<SoftwareVersion> DecodeVersion(const uint8_t* payload, size_t length);
std::optional<uint32_t> DecodeNmeaMask(const uint8_t* payload, size_t length);

// What Apply reads from the controls. Texts are taken as typed; the deciding buttons of
// each pair are given as down or not.
struct ApplyControls {
    uint32_t nmeaMask = 0;
    int32_t baudRate = 19200;
    int32_t nmeaRate = 1;
    std::string heightText;
    std::string foreAftText;
    bool altDown = false;
    std::string channelText;  // MHz
    bool waasOnDown = false;
    bool correctionsOnDown = false;
    bool tcmOnDown = false;
    bool forwardDown = false;
};

// The outcome of encoding Apply: a payload, or the message that stopped it.
struct ApplyResult {
    std::optional<ConfigPayload> payload;
    std::string error;             // validation message for the note window
    bool conversionError = false;  // the frequency text was not a number (error holds why)
};

inline constexpr const char* kHeightMessage =
    "Invalid value.  Enter a valid number in [1, 200] for LC Height.";
inline constexpr const char* kForeAftMessage =
    "Invalid value.  Enter a valid number in [1, 200] for LC Fore/Aft.";

ApplyResult EncodeApply(const ApplyControls& controls);

// The settings message the loader sends when a load ends: only the NMEA and baud groups.
ConfigPayload EncodeNmeaAndBaud(uint32_t nmeaMask, int32_t baudRate);

// A calibration frame: all zero but the calibration command in byte 73.
ConfigPayload EncodeCalibrationCommand(uint8_t command);

// Builds message 216 around a payload into frame (at least config::kFrameLength bytes).
uint16_t BuildConfigFrame(const ConfigPayload& payload, uint8_t* frame);

// Parses whole-inch text as the setup dialog does: optional sign and digits, nothing else.
std::optional<int32_t> ParseWholeNumber(const std::string& text);
