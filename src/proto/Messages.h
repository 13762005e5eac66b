#pragma once
// Message ids and the byte offsets of every field the program reads or writes. Payload
// offsets count from the first payload byte; frame offsets from the first sync byte.
// Code elsewhere names these constants instead of writing bare offsets.
#include <cstdint>

namespace msgid {
constexpr uint8_t kRequest = 16;     // 0x10: ask the receiver for a message
constexpr uint8_t kBootloader = 31;  // 0x1F: bootloader command and reply
constexpr uint8_t kConfig = 216;     // 0xD8: receiver configuration
constexpr uint8_t kHardware = 218;   // 0xDA: hardware identity
constexpr uint8_t kRejected = 255;   // a receiver that answers with this id is not the one sought
}  // namespace msgid

// The binary frame around every message.
namespace frame {
constexpr uint8_t kSync1 = 0x02;
constexpr uint8_t kSync2 = 0x99;
constexpr uint8_t kSync3 = 0x66;
constexpr uint8_t kTrailer = 0x03;
constexpr uint16_t kIdOffset = 3;
constexpr uint16_t kLengthOffset = 4;  // 16-bit: payload length + 4
constexpr uint16_t kPayloadOffset = 6;
constexpr uint16_t kOverhead = 8;          // sync(3) + id + length(2) + checksum + trailer
constexpr uint16_t kLengthFieldExtra = 4;  // length field = payload length + this
constexpr uint16_t kMaxPayload = 65535 - kOverhead;
}  // namespace frame

// Message 16: request for a message.
namespace request {
constexpr uint16_t kRequestedId = 0;
constexpr uint16_t kMode = 1;
constexpr uint16_t kValue = 2;  // 16-bit
constexpr uint16_t kPayloadSize = 4;
constexpr uint16_t kFrameLength = kPayloadSize + frame::kOverhead;  // 12
constexpr uint8_t kStandardMode = 6;
}  // namespace request

// Message 216: receiver configuration.
namespace config {
constexpr uint16_t kCommand = 0;
constexpr uint16_t kVersionMajor = 1;
constexpr uint16_t kVersionMinor = 2;
constexpr uint16_t kVersionSuffix = 40;  // 3 characters
constexpr uint16_t kVersionSuffixSize = 3;
constexpr uint16_t kNmeaFlag = 43;
constexpr uint16_t kNmeaMask = 44;  // 32-bit
constexpr uint16_t kNmeaRate = 48;
constexpr uint16_t kBaudFlag = 49;
constexpr uint16_t kBaudRate = 50;        // 32-bit
constexpr uint16_t kDefaultChannel = 54;  // 32-bit signed
constexpr uint16_t kFreqFlag = 58;
constexpr uint16_t kAltFreqInUse = 59;
constexpr uint16_t kAltChannel = 60;  // 32-bit signed
constexpr uint16_t kWaasOn = 64;
constexpr uint16_t kCorrectionsOff = 65;
constexpr uint16_t kTcmFlag = 66;
constexpr uint16_t kTcmOn = 67;
constexpr uint16_t kLcHeight = 68;
constexpr uint16_t kForeAftEditable = 69;
constexpr uint16_t kLcForeAft = 70;
constexpr uint16_t kTcmForward = 71;
constexpr uint16_t kTcmCalibrated = 72;
constexpr uint16_t kCalibrationCommand = 73;
constexpr uint16_t kCalibrationValue = 74;  // 32-bit signed
constexpr uint16_t kPayloadSize = 78;
constexpr uint16_t kFrameLength = kPayloadSize + frame::kOverhead;  // 86

constexpr uint8_t kCommandWriteSettings = 0x02;
constexpr uint8_t kCommandNone = 0x00;

// NMEA sentence mask bits.
constexpr uint32_t kMaskGGA = 0x01;
constexpr uint32_t kMaskGSA = 0x02;
constexpr uint32_t kMaskZDA = 0x04;
constexpr uint32_t kMaskVTG = 0x08;
constexpr uint32_t kMaskRMC = 0x10;
constexpr uint32_t kMaskSNR = 0x20;

// Calibration commands (PC to receiver) and states (receiver to PC) in byte 73.
constexpr uint8_t kCalPoll = 1;
constexpr uint8_t kCalAbort = 3;
constexpr uint8_t kCalStartFirst = 4;
constexpr uint8_t kCalStartSecond = 6;
constexpr uint8_t kCalMustStop = 2;
constexpr uint8_t kCalFirstDone = 5;
constexpr uint8_t kCalComplete = 7;
}  // namespace config

// Message 218: hardware identity.
namespace hardware {
constexpr uint16_t kSerialNumber = 0;  // 32-bit signed
constexpr uint16_t kPartNumber = 4;
constexpr uint16_t kPartNumberSize = 16;
constexpr uint16_t kCompatibility = 24;
constexpr uint16_t kCompatibilitySize = 5;
constexpr uint16_t kVersionNumber = 60;  // 32-bit signed
constexpr uint16_t kUsedSize = 64;
constexpr uint16_t kPayloadSize = 64;  // what a receiver sends: exactly the bytes the program reads
}  // namespace hardware

// Message 31: bootloader command and reply.
namespace x1f {
constexpr uint16_t kCode = 0;
constexpr uint16_t kFlag = 1;
constexpr uint16_t kDataLength = 2;  // 16-bit
constexpr uint16_t kValue = 4;       // 32-bit: address or returned value
constexpr uint16_t kData = 8;
constexpr uint16_t kDataSize = 256;
constexpr uint16_t kPayloadSize = 264;
constexpr uint16_t kFrameLength = kPayloadSize + frame::kOverhead;  // 272
constexpr uint16_t kMinReplyPayload = 8;                            // code, flag, data length and value

// Command codes (PC to receiver).
constexpr uint8_t kPing = 0;
constexpr uint8_t kSetup = 1;
constexpr uint8_t kLoad = 2;
constexpr uint8_t kErase = 3;
constexpr uint8_t kProgram = 4;
constexpr uint8_t kSetBaud = 5;
constexpr uint8_t kStart = 6;
constexpr uint8_t kPeek = 7;
constexpr uint8_t kCrcAny = 8;
constexpr uint8_t kCrcBoot = 9;
constexpr uint8_t kCrcNav = 10;
constexpr uint8_t kCrcDiag = 11;
constexpr uint8_t kCrcRam = 12;

// Reply codes (receiver to PC).
constexpr uint8_t kPass = 100;
constexpr uint8_t kFail = 101;
constexpr uint8_t kWorking = 102;
constexpr uint8_t kBadAddress = 200;
constexpr uint8_t kBadLength = 201;
constexpr uint8_t kBadCmd = 202;
constexpr uint8_t kNoProg = 203;

// The rate the bootloader is switched to for a software load.
constexpr uint32_t kLoadBaudRate = 57600;
}  // namespace x1f
