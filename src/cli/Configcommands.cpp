// lctrovi config get|set and lctrovi info: the setup dialog's settings and the hardware
// identity, read and written with the dialog's codecs, validation and messages.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Session.h"
#include "config/Configmsg.h"
#include "config/Hardwaremsg.h"
#include "config/Json.h"
#include "config/Setupfile.h"
#include "link/Portsearch.h"
#include "proto/Messages.h"

namespace {
const char* const kConfigHelp =
    "Usage: lctrovi config get --device D [--baud B] [--json]\n"
    "       lctrovi config set --device D [--baud B] KEY=VALUE...\n"
    "       lctrovi config save --device D [--baud B] FILE\n"
    "       lctrovi config apply --device D [--baud B] FILE\n"
    "Read the receiver's settings, or change some of them and keep the rest. Set sends the\n"
    "whole settings message as the setup dialog's Apply does, with its validation; after a\n"
    "baud change the PC port follows. Save writes the settings to a setup file (see\n"
    "docs/setup-file.md); apply sends a setup file's settings, prints each one it changed, and\n"
    "sends nothing when nothing differs. A setup file with an unknown key or a value the receiver\n"
    "cannot take is refused whole before anything is sent.\n"
    "\n"
    "Keys:\n"
    "  baud=4800|9600|19200|38400     nmea=GGA,GSA,ZDA,VTG,RMC,SNR|none\n"
    "  rate=1|5                       waas=on|off        corrections=on|off\n"
    "  frequency=default|MHZ (1525 to 1560)              tcm=on|off\n"
    "  direction=forward|backward     height=INCHES      foreaft=INCHES\n"
    "Read only: version, foreaft-editable, calibrated. A value the receiver holds is always\n"
    "taken (read-only ones too), so config get's lines can be given back to config set.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --json         print the settings as one JSON object\n"
    "  --help         show this help and exit\n";

const char* const kInfoHelp =
    "Usage: lctrovi info --device D [--baud B] [--json]\n"
    "Print the receiver's hardware identity: serial, part, version and compatibility numbers.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --json         print the identity as one JSON object\n"
    "  --help         show this help and exit\n";

constexpr int64_t kBaudSwitchDelayMs = 200;  // the receiver answers at its old rate first

std::optional<uint32_t> ParseMask(const std::string& text) {
    if (text == "none") {
        return 0u;
    }
    uint32_t mask = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string name = text.substr(start, comma - start);
        bool known = false;
        for (const MaskName& entry : kMaskNames) {
            if (name == entry.name) {
                mask |= entry.bit;
                known = true;
            }
        }
        if (!known) {
            return std::nullopt;
        }
        start = comma + 1;
    }
    return mask;
}

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

// The settings as key and value texts, in the order printed. Numbers are marked for JSON.
struct Field {
    std::string key;
    std::string value;
    bool number = false;
};

std::vector<Field> SettingsFields(const ReceiverSettings& s, const SoftwareVersion& version) {
    return {
        {"version", version.Text()},
        {"baud", std::to_string(s.BaudRate), true},
        {"nmea", MaskText(s.NmeaMask)},
        {"rate", std::to_string(s.NmeaRate), true},
        {"waas", OnOff(s.WaasOn != 0)},
        {"corrections", OnOff(s.CorrectionsOff == 0)},
        {"frequency", s.AltFreq != 0 ? FormatGeneral(ChannelToMHz(s.Channel)) : "default"},
        {"tcm", OnOff(s.TcmOn != 0)},
        {"height", std::to_string(s.LcHeight), true},
        {"foreaft", std::to_string(s.LcForeAft), true},
        {"foreaft-editable", s.ForeAftEditable != 0 ? "yes" : "no"},
        {"direction", s.TcmForward != 0 ? "forward" : "backward"},
        {"calibrated", s.TcmCalibrated != 0 ? "yes" : "no"},
    };
}

void PrintFields(const std::vector<Field>& fields, bool json) {
    if (!json) {
        for (const Field& f : fields) {
            std::printf("%s=%s\n", f.key.c_str(), f.value.c_str());
        }
        return;
    }
    std::string text = "{";
    for (const Field& f : fields) {
        text += (text.size() > 1 ? ", " : "") + JsonQuote(f.key) + ": " +
                (f.number ? f.value : JsonQuote(f.value));
    }
    std::printf("%s}\n", text.c_str());
}

struct ReceivedSettings {
    ReceiverSettings settings;
    SoftwareVersion version;
};

std::optional<ReceivedSettings> ReadSettings(Session& session) {
    const auto payload = session.Request(msgid::kConfig);
    if (!payload) {
        return std::nullopt;
    }
    const auto settings =
        DecodeConfigReply(payload->data(), payload->size(), static_cast<int32_t>(session.Baud()));
    const auto version = DecodeVersion(payload->data(), payload->size());
    if (!settings || !version) {
        std::fprintf(stderr, "The receiver's configuration message is too short.\n");
        return std::nullopt;
    }
    return ReceivedSettings{*settings, *version};
}

// The controls as the setup dialog shows a received configuration.
ApplyControls ControlsFor(const ReceiverSettings& s) {
    ApplyControls c;
    c.nmeaMask = s.NmeaMask;
    c.baudRate = s.BaudRate;
    c.nmeaRate = s.NmeaRate == 5 ? 5 : 1;
    c.heightText = std::to_string(s.LcHeight);
    c.foreAftText = std::to_string(s.LcForeAft);
    c.altDown = s.AltFreq != 0;
    c.channelText = s.AltFreq != 0 ? FormatGeneral(ChannelToMHz(s.Channel)) : "";
    c.waasOnDown = s.WaasOn != 0;
    c.correctionsOnDown = s.CorrectionsOff == 0;
    c.tcmOnDown = s.TcmOn != 0;
    c.forwardDown = s.TcmForward != 0;
    return c;
}

std::optional<bool> ParseSwitch(const std::string& value, const char* on, const char* off) {
    if (value == on) {
        return true;
    }
    if (value == off) {
        return false;
    }
    return std::nullopt;
}

// One key of config set: how a new value reaches the controls, and how the receiver's own
// value is kept. A key without `take` is read-only.
struct SettingKey {
    const char* name;
    const char* choices;  // named when a value is refused; nullptr when `take` says why
    bool (*take)(ApplyControls& c, const std::string& value, std::string& why);
    void (*keep)(ApplyControls& c, const ApplyControls& held);
};

bool TakeSwitch(bool& down, const std::string& value, const char* on, const char* off) {
    const std::optional<bool> parsed = ParseSwitch(value, on, off);
    down = parsed.value_or(down);
    return parsed.has_value();
}

const SettingKey kSettingKeys[] = {
    {"version", nullptr, nullptr, nullptr},
    {"baud", "(4800, 9600, 19200, 38400)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         for (const uint32_t rate : kSearchRates) {
             if (value == std::to_string(rate)) {
                 c.baudRate = static_cast<int32_t>(rate);
                 return true;
             }
         }
         return false;
     },
     [](ApplyControls& c, const ApplyControls& held) { c.baudRate = held.baudRate; }},
    {"nmea", "(GGA, GSA, ZDA, VTG, RMC, SNR separated by commas, or none)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         const auto mask = ParseMask(value);
         c.nmeaMask = mask.value_or(c.nmeaMask);
         return mask.has_value();
     },
     [](ApplyControls& c, const ApplyControls& held) { c.nmeaMask = held.nmeaMask; }},
    {"rate", "(1 or 5)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         if (value != "1" && value != "5") {
             return false;
         }
         c.nmeaRate = value == "5" ? 5 : 1;
         return true;
     },
     [](ApplyControls& c, const ApplyControls& held) { c.nmeaRate = held.nmeaRate; }},
    {"waas", "(on or off)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         return TakeSwitch(c.waasOnDown, value, "on", "off");
     },
     [](ApplyControls& c, const ApplyControls& held) { c.waasOnDown = held.waasOnDown; }},
    {"corrections", "(on or off)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         return TakeSwitch(c.correctionsOnDown, value, "on", "off");
     },
     [](ApplyControls& c, const ApplyControls& held) { c.correctionsOnDown = held.correctionsOnDown; }},
    {"frequency", nullptr,
     [](ApplyControls& c, const std::string& value, std::string& why) {
         if (value != "default" && !(why = CorrectionFrequencyProblem(value)).empty()) {
             return false;
         }
         c.altDown = value != "default";
         c.channelText = c.altDown ? value : "";
         return true;
     },
     [](ApplyControls& c, const ApplyControls& held) {
         c.altDown = held.altDown;
         c.channelText = held.channelText;
     }},
    {"tcm", "(on or off)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         return TakeSwitch(c.tcmOnDown, value, "on", "off");
     },
     [](ApplyControls& c, const ApplyControls& held) { c.tcmOnDown = held.tcmOnDown; }},
    {"height", nullptr,
     [](ApplyControls& c, const std::string& value, std::string&) {
         c.heightText = value;  // the codec checks it, with the setup dialog's message
         return true;
     },
     [](ApplyControls& c, const ApplyControls& held) { c.heightText = held.heightText; }},
    {"foreaft", nullptr,
     [](ApplyControls& c, const std::string& value, std::string&) {
         c.foreAftText = value;  // the codec checks it, with the setup dialog's message
         return true;
     },
     [](ApplyControls& c, const ApplyControls& held) { c.foreAftText = held.foreAftText; }},
    {"foreaft-editable", nullptr, nullptr, nullptr},
    {"direction", "(forward or backward)",
     [](ApplyControls& c, const std::string& value, std::string&) {
         return TakeSwitch(c.forwardDown, value, "forward", "backward");
     },
     [](ApplyControls& c, const ApplyControls& held) { c.forwardDown = held.forwardDown; }},
    {"calibrated", nullptr, nullptr, nullptr},
};

// Applies one KEY=VALUE to the controls; the message says why it was refused. A value equal to
// the one config get prints for the receiver is always taken back as the receiver holds it, so
// that config get's lines (read-only keys included) can be given to config set as they are.
bool SetControl(ApplyControls& c, const std::string& key, const std::string& value,
                const ReceivedSettings& held, std::string& message) {
    const auto found = std::find_if(std::begin(kSettingKeys), std::end(kSettingKeys),
                                    [&](const SettingKey& k) { return key == k.name; });
    if (found == std::end(kSettingKeys)) {
        message = "unknown setting " + key;
        return false;
    }
    std::string shown;  // as config get prints it: every key has its line
    for (const Field& field : SettingsFields(held.settings, held.version)) {
        shown = field.key == key ? field.value : shown;
    }
    if (value == shown) {
        if (found->keep != nullptr) {
            found->keep(c, ControlsFor(held.settings));
        }
        return true;
    }
    if (found->take == nullptr) {
        message = key + " is read-only: the receiver has " + key + "=" + shown;
        return false;
    }
    std::string why;
    if (found->take(c, value, why)) {
        return true;
    }
    const std::string choices = found->choices != nullptr ? found->choices : "";
    message = why.empty() ? "invalid value " + value + " for " + key + " " + choices : key + ": " + why;
    return false;
}

bool SetControls(ApplyControls& controls, const std::vector<std::string>& assignments,
                 const ReceivedSettings& held) {
    for (const std::string& assignment : assignments) {
        const size_t equals = assignment.find('=');
        std::string message = "expected KEY=VALUE, not " + assignment;
        if (equals == std::string::npos || !SetControl(controls, assignment.substr(0, equals),
                                                       assignment.substr(equals + 1), held, message)) {
            std::fprintf(stderr, "lctrovi: %s\n", message.c_str());
            return false;
        }
    }
    return true;
}

int ConfigGet(Session& session, bool json) {
    const auto received = ReadSettings(session);
    if (!received) {
        return kExitFailed;
    }
    PrintFields(SettingsFields(received->settings, received->version), json);
    return kExitOk;
}

// Sends the controls as Apply does and lets the PC port follow a baud change. A fixed-rate
// line could not follow the receiver to a new rate: refused before the receiver hears of it.
int SendControls(Session& session, const ApplyControls& controls) {
    if (static_cast<uint32_t>(controls.baudRate) != session.Baud() && !session.Port().CanChangeRate()) {
        std::fprintf(stderr, "%s\n", session.Port().RateRefusal().c_str());
        return kExitFailed;
    }
    const ApplyResult result = EncodeApply(controls);
    if (!result.payload) {
        std::fprintf(stderr, "%s\n", result.error.c_str());
        return kExitUsage;
    }
    uint8_t frame[config::kFrameLength];
    if (!session.Send(frame, BuildConfigFrame(*result.payload, frame))) {
        return kExitFailed;
    }
    CurrentClock().SleepMs(kBaudSwitchDelayMs);
    if (static_cast<uint32_t>(controls.baudRate) != session.Baud() &&
        !session.ChangeBaud(static_cast<uint32_t>(controls.baudRate))) {
        return kExitFailed;
    }
    return kExitOk;
}

int ConfigSave(Session& session, const std::string& path) {
    const auto received = ReadSettings(session);
    if (!received) {
        return kExitFailed;
    }
    std::string error;
    const auto text = WriteSetupFile(ControlsFor(received->settings), received->version.Text(),
                                     CurrentClock().NowSeconds(), error);
    if (!text) {
        std::fprintf(stderr, "The receiver's settings cannot be saved: %s\n", error.c_str());
        return kExitFailed;
    }
    std::ofstream out(path, std::ios::binary);
    if (!(out << *text) || !out.flush()) {
        std::fprintf(stderr, "Error writing setup file %s\n", path.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

// Reads and checks a setup file before the port is opened: a refused file sends nothing.
std::optional<SetupFile> LoadSetupFile(const std::string& path) {
    SetupRead read = ReadSetupFileFrom(path);
    if (!read.file) {
        std::fprintf(stderr, "%s\n", SetupReadMessage(read, path).c_str());
    }
    return std::move(read.file);
}

int ConfigApply(Session& session, const SetupFile& file) {
    const auto received = ReadSettings(session);
    if (!received) {
        return kExitFailed;
    }
    const std::vector<std::string> changes = SetupChanges(ControlsFor(received->settings), file.controls);
    if (changes.empty()) {
        return kExitOk;
    }
    if (const int sent = SendControls(session, file.controls); sent != kExitOk) {
        return sent;
    }
    for (const std::string& change : changes) {
        std::printf("%s\n", change.c_str());
    }
    return kExitOk;
}

int ConfigSet(Session& session, const std::vector<std::string>& assignments) {
    if (assignments.empty()) {
        std::fprintf(stderr, "lctrovi: config set needs KEY=VALUE\n");
        return kExitUsage;
    }
    const auto received = ReadSettings(session);
    if (!received) {
        return kExitFailed;
    }
    ApplyControls controls = ControlsFor(received->settings);
    if (!SetControls(controls, assignments, *received)) {
        return kExitUsage;
    }
    if (const int sent = SendControls(session, controls); sent != kExitOk) {
        return sent;
    }
    return ConfigGet(session, false);  // what the receiver holds now
}
}  // namespace

int RunConfig(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud"}, {"--json"}, kConfigHelp, parsed, status)) {
        return status;
    }
    const std::string action = parsed.words.empty() ? "" : parsed.words.front();
    if (action != "get" && action != "set" && action != "save" && action != "apply") {
        std::fprintf(stderr, "lctrovi: config get or config set\n%s", kConfigHelp);
        return kExitUsage;
    }
    const bool withFile = action == "save" || action == "apply";
    if (withFile && parsed.words.size() != 2) {
        std::fprintf(stderr, "lctrovi: config %s needs one FILE\n", action.c_str());
        return kExitUsage;
    }
    std::optional<SetupFile> setup;
    if (action == "apply" && !(setup = LoadSetupFile(parsed.words[1]))) {
        return kExitUsage;
    }
    Session session;
    if (const int opened = OpenSession(parsed, session); opened != kExitOk) {
        return opened;
    }
    if (action == "get") {
        return ConfigGet(session, parsed.Has("--json"));
    }
    if (action == "save") {
        return ConfigSave(session, parsed.words[1]);
    }
    if (action == "apply") {
        return ConfigApply(session, *setup);
    }
    return ConfigSet(session, {parsed.words.begin() + 1, parsed.words.end()});
}

int RunInfo(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud"}, {"--json"}, kInfoHelp, parsed, status)) {
        return status;
    }
    Session session;
    if (const int opened = OpenSession(parsed, session); opened != kExitOk) {
        return opened;
    }
    const auto payload = session.Request(msgid::kHardware);
    if (!payload) {
        return kExitFailed;
    }
    const auto info = DecodeHardwareInfo(payload->data(), payload->size());
    if (!info) {
        std::fprintf(stderr, "The receiver's hardware message is too short.\n");
        return kExitFailed;
    }
    PrintFields({{"serial", std::to_string(info->serialNumber), true},
                 {"part", info->partNumber},
                 {"version", std::to_string(info->versionNumber), true},
                 {"compatibility", info->compatibility}},
                parsed.Has("--json"));
    return kExitOk;
}
