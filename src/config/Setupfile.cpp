#include "config/Setupfile.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "config/Json.h"
#include "proto/Linerates.h"

namespace {
constexpr const auto& kBaudRates = kReceiverRates;     // the dialog's choices
constexpr std::array<int32_t, 2> kNmeaRates = {1, 5};  // sentences per second
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr int32_t kMinInches = 1;
constexpr int32_t kMaxInches = 200;

// The frequency as written: "default", or the MHz the channel of the typed text shows as.
std::string FrequencyText(const ApplyControls& c) {
    return c.altDown ? FormatGeneral(ChannelToMHz(MHzToChannel(c.channelText))) : "default";
}

std::string MaskJson(uint32_t mask) {
    std::string text = "[";
    for (const MaskName& entry : kMaskNames) {
        if ((mask & entry.bit) != 0) {
            if (text.size() > 1) {
                text += ", ";
            }
            text += JsonQuote(entry.name);
        }
    }
    return text + "]";
}

const char* Bool(bool value) {
    return value ? "true" : "false";
}

// Refuses the file: the exception carries the key and why.
struct Refusal {
    std::string text;
};

[[noreturn]] void Refuse(const std::string& key, const std::string& why) {
    throw Refusal{key + ": " + why};
}

const JsonValue& Require(const JsonValue& object, const std::string& path, const char* key) {
    const JsonValue* value = object.Find(key);
    if (value == nullptr) {
        Refuse(path + key, "missing");
    }
    return *value;
}

void RequireKind(const JsonValue& value, JsonValue::Kind kind, const std::string& key) {
    if (value.kind != kind) {
        Refuse(key, std::string("expected ") + JsonKindName(kind) + ", not " + JsonKindName(value.kind));
    }
}

void OnlyKnownKeys(const JsonValue& object, const std::string& path,
                   std::initializer_list<const char*> known) {
    for (const auto& member : object.members) {
        bool found = false;
        for (const char* key : known) {
            found = found || member.key == key;
        }
        if (!found) {
            Refuse(path + member.key, "unknown key");
        }
    }
}

int32_t WholeNumber(const JsonValue& value, const std::string& key, int64_t low, int64_t high) {
    RequireKind(value, JsonValue::Kind::kNumber, key);
    const std::string range = " (" + std::to_string(low) + " to " + std::to_string(high) + ")";
    if (!value.IsWholeNumber()) {
        Refuse(key, value.text + " is not a whole number" + range);
    }
    if (value.number < static_cast<double>(low) || value.number > static_cast<double>(high)) {
        Refuse(key, value.text + " is out of range" + range);
    }
    return static_cast<int32_t>(value.number);
}

// A number that must be one of a few rates; any other number is refused naming them.
template <class Rate, size_t N>
int32_t OneOfRates(const JsonValue& value, const std::string& key, const std::array<Rate, N>& rates,
                   const char* named) {
    RequireKind(value, JsonValue::Kind::kNumber, key);
    for (const Rate rate : rates) {
        if (value.number == static_cast<double>(rate)) {
            return static_cast<int32_t>(rate);
        }
    }
    Refuse(key, value.text + " is not a rate the receiver takes (" + named + ")");
}

bool Boolean(const JsonValue& value, const std::string& key) {
    RequireKind(value, JsonValue::Kind::kBool, key);
    return value.boolean;
}

uint32_t Mask(const JsonValue& value, const std::string& key) {
    RequireKind(value, JsonValue::Kind::kArray, key);
    uint32_t mask = 0;
    for (const JsonValue& item : value.items) {
        RequireKind(item, JsonValue::Kind::kString, key);
        bool known = false;
        for (const MaskName& entry : kMaskNames) {
            if (item.text == entry.name) {
                if ((mask & entry.bit) != 0) {
                    Refuse(key, item.text + " is named twice");
                }
                mask |= entry.bit;
                known = true;
            }
        }
        if (!known) {
            Refuse(key, "unknown sentence " + JsonQuote(item.text) + " (GGA, GSA, ZDA, VTG, RMC, SNR)");
        }
    }
    return mask;
}

void Frequency(const JsonValue& value, const std::string& key, ApplyControls& c) {
    if (value.kind == JsonValue::Kind::kString && value.text == "default") {
        c.altDown = false;
        c.channelText.clear();
        return;
    }
    if (value.kind != JsonValue::Kind::kNumber) {
        Refuse(key, "expected \"default\" or a frequency in MHz");
    }
    c.altDown = true;
    c.channelText = value.text;
    if (const std::string problem = CorrectionFrequencyProblem(value.text); !problem.empty()) {
        Refuse(key, problem);
    }
}

ApplyControls ReadSettings(const JsonValue& settings) {
    const std::string path = "settings.";
    RequireKind(settings, JsonValue::Kind::kObject, "settings");
    OnlyKnownKeys(settings, path,
                  {"nmea", "rate", "baud", "waas", "corrections", "frequency", "tcm", "direction", "height",
                   "foreaft"});
    ApplyControls c;
    c.nmeaMask = Mask(Require(settings, path, "nmea"), path + "nmea");
    c.nmeaRate = OneOfRates(Require(settings, path, "rate"), path + "rate", kNmeaRates, "1 or 5");
    c.baudRate =
        OneOfRates(Require(settings, path, "baud"), path + "baud", kBaudRates, "4800, 9600, 19200, 38400");
    c.waasOnDown = Boolean(Require(settings, path, "waas"), path + "waas");
    c.correctionsOnDown = Boolean(Require(settings, path, "corrections"), path + "corrections");
    Frequency(Require(settings, path, "frequency"), path + "frequency", c);
    c.tcmOnDown = Boolean(Require(settings, path, "tcm"), path + "tcm");
    const JsonValue& direction = Require(settings, path, "direction");
    RequireKind(direction, JsonValue::Kind::kString, path + "direction");
    if (direction.text != "forward" && direction.text != "backward") {
        Refuse(path + "direction", "expected \"forward\" or \"backward\"");
    }
    c.forwardDown = direction.text == "forward";
    c.heightText = std::to_string(
        WholeNumber(Require(settings, path, "height"), path + "height", kMinInches, kMaxInches));
    c.foreAftText = std::to_string(
        WholeNumber(Require(settings, path, "foreaft"), path + "foreaft", kMinInches, kMaxInches));
    return c;
}

std::string OptionalString(const JsonValue& document, const char* key) {
    const JsonValue* value = document.Find(key);
    if (value == nullptr) {
        return {};
    }
    RequireKind(*value, JsonValue::Kind::kString, key);
    return value->text;
}

SetupFile ReadDocument(const JsonValue& document) {
    RequireKind(document, JsonValue::Kind::kObject, "the file");
    OnlyKnownKeys(document, "", {"format", "format_version", "saved", "receiver_software", "settings"});
    const JsonValue& format = Require(document, "", "format");
    RequireKind(format, JsonValue::Kind::kString, "format");
    if (format.text != kSetupFileFormat) {
        Refuse("format", "not a receiver setup file (" + JsonQuote(format.text) + ")");
    }
    const JsonValue& version = Require(document, "", "format_version");
    if (WholeNumber(version, "format_version", 1, INT32_MAX) > kSetupFileVersion) {
        Refuse("format_version", "version " + version.text + " is newer than this program reads");
    }
    SetupFile file;
    file.saved = OptionalString(document, "saved");
    file.receiverSoftware = OptionalString(document, "receiver_software");
    file.controls = ReadSettings(Require(document, "", "settings"));
    return file;
}
}  // namespace

std::string MaskText(uint32_t mask) {
    std::string text;
    for (const MaskName& entry : kMaskNames) {
        if ((mask & entry.bit) != 0) {
            // Appended piece by piece: GCC 12 warns (-Wrestrict) about "," + std::string at -O3.
            if (!text.empty()) {
                text += ',';
            }
            text += entry.name;
        }
    }
    return text.empty() ? "none" : text;
}

std::string UtcTimeText(int64_t unixSeconds) {
    const auto t = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::optional<std::string> WriteSetupFile(const ApplyControls& c, const std::string& receiverSoftware,
                                          int64_t unixSeconds, std::string& error) {
    const ApplyResult checked = EncodeApply(c);
    if (!checked.payload) {
        error = checked.error;
        return std::nullopt;
    }
    const std::string frequency = FrequencyText(c);
    if (const std::string problem = c.altDown ? CorrectionFrequencyProblem(frequency) : "";
        !problem.empty()) {
        error = "settings.frequency: " + problem;  // the file could not be read back
        return std::nullopt;
    }
    std::string text = "{\n";
    text += "  \"format\": " + JsonQuote(kSetupFileFormat) + ",\n";
    text += "  \"format_version\": " + std::to_string(kSetupFileVersion) + ",\n";
    text += "  \"saved\": " + JsonQuote(UtcTimeText(unixSeconds)) + ",\n";
    text += "  \"receiver_software\": " + JsonQuote(receiverSoftware) + ",\n";
    text += "  \"settings\": {\n";
    text += "    \"nmea\": " + MaskJson(c.nmeaMask) + ",\n";
    text += "    \"rate\": " + std::to_string(c.nmeaRate) + ",\n";
    text += "    \"baud\": " + std::to_string(c.baudRate) + ",\n";
    text += std::string("    \"waas\": ") + Bool(c.waasOnDown) + ",\n";
    text += std::string("    \"corrections\": ") + Bool(c.correctionsOnDown) + ",\n";
    text += "    \"frequency\": " + (c.altDown ? frequency : JsonQuote(frequency)) + ",\n";
    text += std::string("    \"tcm\": ") + Bool(c.tcmOnDown) + ",\n";
    text += "    \"direction\": " + JsonQuote(c.forwardDown ? "forward" : "backward") + ",\n";
    text += "    \"height\": " + std::to_string(*ParseWholeNumber(c.heightText)) + ",\n";
    text += "    \"foreaft\": " + std::to_string(*ParseWholeNumber(c.foreAftText)) + "\n";
    text += "  }\n}\n";
    return text;
}

SetupRead ReadSetupFile(std::string_view text) {
    SetupRead result;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());  // as some editors save UTF-8
    }
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        result.unreadable = true;
        result.error = "it is empty";
        return result;
    }
    const JsonParse parsed = ParseJson(text);
    if (!parsed.value) {
        result.error = parsed.error;
        return result;
    }
    try {
        SetupFile file = ReadDocument(*parsed.value);
        const ApplyResult checked = EncodeApply(file.controls);
        if (!checked.payload) {
            result.error = checked.error;
            return result;
        }
        result.file = std::move(file);
    } catch (const Refusal& refusal) {
        result.error = refusal.text;
    }
    return result;
}

SetupRead ReadSetupFileFrom(const std::string& path) {
    SetupRead result;
    result.unreadable = true;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        result.error = "it is a folder";
        return result;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        result.error = std::strerror(errno);
        return result;
    }
    // One byte past the reader's limit, so that a larger file is refused as such.
    std::string bytes(kJsonMaxBytes + 1, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    return ReadSetupFile(bytes);
}

std::string SetupReadMessage(const SetupRead& read, const std::string& name) {
    return read.unreadable ? "Error reading setup file " + name + ": " + read.error
                           : "Setup file " + name + " refused: " + read.error;
}

std::vector<SetupField> SetupFields(const ApplyControls& c) {
    std::string frequency;
    try {
        frequency = FrequencyText(c);
    } catch (const std::invalid_argument&) {
        frequency = c.channelText;
    }
    return {
        {"nmea", MaskText(c.nmeaMask)},
        {"rate", std::to_string(c.nmeaRate)},
        {"baud", std::to_string(c.baudRate)},
        {"waas", c.waasOnDown ? "on" : "off"},
        {"corrections", c.correctionsOnDown ? "on" : "off"},
        {"frequency", frequency},
        {"tcm", c.tcmOnDown ? "on" : "off"},
        {"direction", c.forwardDown ? "forward" : "backward"},
        {"height", c.heightText},
        {"foreaft", c.foreAftText},
    };
}

std::vector<std::string> SetupChanges(const ApplyControls& before, const ApplyControls& after) {
    const std::vector<SetupField> old = SetupFields(before);
    const std::vector<SetupField> now = SetupFields(after);
    std::vector<std::string> changes;
    for (size_t i = 0; i < old.size(); ++i) {
        if (old[i].value != now[i].value) {
            changes.push_back(now[i].key + ": " + old[i].value + " -> " + now[i].value);
        }
    }
    return changes;
}
