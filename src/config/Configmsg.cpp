#include "config/Configmsg.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "proto/Bytes.h"
#include "proto/Frame.h"

namespace {
constexpr double kBaseMHz = 1525.0;
constexpr double kMHzPerChannel = 0.0005;
constexpr double kChannelsPerMHz = 2000.0;
constexpr int32_t kMinInches = 1;
constexpr int32_t kMaxInches = 200;

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<int32_t> ParseInches(const std::string& text) {
    const auto v = ParseWholeNumber(text);
    if (!v || *v < kMinInches || *v > kMaxInches) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> ParseMHz(const std::string& mhzText) {
    const std::string text = Trim(mhzText);
    double mhz = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), mhz);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(mhz)) {
        return std::nullopt;
    }
    return mhz;
}

std::string NotANumberText(const std::string& mhzText) {
    return "'" + mhzText + "' is not a valid floating point value";
}
}  // namespace

std::string SoftwareVersion::Text() const {
    return std::to_string(major) + "." + std::to_string(minor) + suffix;
}

double ChannelToMHz(int32_t channel) {
    return channel * kMHzPerChannel + kBaseMHz;
}

int32_t MHzToChannel(const std::string& mhzText) {
    const auto mhz = ParseMHz(mhzText);
    if (!mhz) {
        throw std::invalid_argument(NotANumberText(mhzText));
    }
    const double channel = std::round((*mhz - kBaseMHz) * kChannelsPerMHz);
    if (channel < INT32_MIN || channel > INT32_MAX) {
        throw std::invalid_argument("'" + mhzText + "' is out of the range of correction channels (" +
                                    FormatGeneral(ChannelToMHz(INT32_MIN)) + " to " +
                                    FormatGeneral(ChannelToMHz(INT32_MAX)) + " MHz)");
    }
    return static_cast<int32_t>(channel);
}

std::string CorrectionFrequencyProblem(const std::string& mhzText) {
    const auto mhz = ParseMHz(mhzText);
    if (!mhz) {
        return NotANumberText(mhzText);
    }
    if (*mhz < kMinCorrectionMHz || *mhz > kMaxCorrectionMHz) {
        return Trim(mhzText) + " is out of range (" + FormatGeneral(kMinCorrectionMHz) + " to " +
               FormatGeneral(kMaxCorrectionMHz) + " MHz)";
    }
    return {};
}

std::string FormatGeneral(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::optional<int32_t> ParseWholeNumber(const std::string& text) {
    const std::string t = Trim(text);
    const char* first = t.data();
    if (!t.empty() && t[0] == '+') {
        ++first;
    }
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<ReceiverSettings> DecodeConfigReply(const uint8_t* p, size_t length, int32_t linkBaudRate) {
    if (length <= config::kTcmCalibrated) {
        return std::nullopt;
    }
    ReceiverSettings s;
    s.NmeaMask = get_le32(p + config::kNmeaMask);
    s.BaudRate = linkBaudRate;
    s.NmeaRate = p[config::kNmeaRate];
    s.WaasOn = p[config::kWaasOn];
    s.CorrectionsOff = p[config::kCorrectionsOff];
    s.AltFreq = p[config::kAltFreqInUse];
    s.Channel = get_le32s(p + (s.AltFreq != 0 ? config::kAltChannel : config::kDefaultChannel));
    s.TcmOn = p[config::kTcmOn];
    s.LcHeight = p[config::kLcHeight];
    s.ForeAftEditable = p[config::kForeAftEditable];
    s.LcForeAft = p[config::kLcForeAft];
    s.TcmForward = p[config::kTcmForward];
    s.TcmCalibrated = p[config::kTcmCalibrated];
    return s;
}

std::optional<SoftwareVersion> DecodeVersion(const uint8_t* p, size_t length) {
    if (length < config::kVersionSuffix + config::kVersionSuffixSize) {
        return std::nullopt;
    }
    SoftwareVersion v;
    v.major = p[config::kVersionMajor];
    v.minor = p[config::kVersionMinor];
    const char* suffix = reinterpret_cast<const char*>(p + config::kVersionSuffix);
    v.suffix.assign(suffix, strnlen(suffix, config::kVersionSuffixSize));
    return v;
}

std::optional<uint32_t> DecodeNmeaMask(const uint8_t* p, size_t length) {
    if (length < config::kNmeaMask + 4u) {
        return std::nullopt;
    }
    return get_le32(p + config::kNmeaMask);
}

ApplyResult EncodeApply(const ApplyControls& c) {
    ApplyResult result;
    ConfigPayload p{};
    p[config::kCommand] = config::kCommandWriteSettings;
    const auto height = ParseInches(c.heightText);
    if (!height) {
        result.error = kHeightMessage;
        return result;
    }
    p[config::kLcHeight] = static_cast<uint8_t>(*height);
    const auto foreAft = ParseInches(c.foreAftText);
    if (!foreAft) {
        result.error = kForeAftMessage;
        return result;
    }
    p[config::kLcForeAft] = static_cast<uint8_t>(*foreAft);
    p[config::kFreqFlag] = 1;
    if (c.altDown) {
        try {
            put_le32(p.data() + config::kAltChannel, static_cast<uint32_t>(MHzToChannel(c.channelText)));
        } catch (const std::invalid_argument& e) {
            result.error = e.what();
            result.conversionError = true;
            return result;
        }
        p[config::kAltFreqInUse] = 1;
    }
    p[config::kWaasOn] = c.waasOnDown ? 1 : 0;
    p[config::kCorrectionsOff] = c.correctionsOnDown ? 0 : 1;
    p[config::kNmeaFlag] = 1;
    put_le32(p.data() + config::kNmeaMask, c.nmeaMask);
    p[config::kNmeaRate] = static_cast<uint8_t>(c.nmeaRate);
    p[config::kBaudFlag] = 1;
    put_le32(p.data() + config::kBaudRate, static_cast<uint32_t>(c.baudRate));
    p[config::kTcmFlag] = 1;
    p[config::kTcmOn] = c.tcmOnDown ? 1 : 0;
    p[config::kTcmForward] = c.forwardDown ? 1 : 0;
    result.payload = p;
    return result;
}

ConfigPayload EncodeNmeaAndBaud(uint32_t nmeaMask, int32_t baudRate) {
    ConfigPayload p{};
    p[config::kCommand] = config::kCommandWriteSettings;
    p[config::kNmeaFlag] = 1;
    put_le32(p.data() + config::kNmeaMask, nmeaMask);
    p[config::kBaudFlag] = 1;
    put_le32(p.data() + config::kBaudRate, static_cast<uint32_t>(baudRate));
    return p;
}

ConfigPayload EncodeCalibrationCommand(uint8_t command) {
    ConfigPayload p{};
    p[config::kCalibrationCommand] = command;
    return p;
}

uint16_t BuildConfigFrame(const ConfigPayload& payload, uint8_t* frame) {
    return build_frame(msgid::kConfig, payload.data(), config::kPayloadSize, frame);
}
