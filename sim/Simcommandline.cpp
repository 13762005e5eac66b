#include "sim/Simcommandline.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

using Setter = std::function<bool(SimCommandLine&, const std::string&)>;

struct OptionRow {
    const char* name;
    const char* argument;  // nullptr: a switch without value
    const char* help;
    Setter set;
};

bool ToLong(const std::string& text, long long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return *end == '\0';
}

bool ToDouble(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= 0;
}

template <typename T>
Setter Integer(T SimOptions::*field) {
    return [field](SimCommandLine& c, const std::string& v) {
        long long n = 0;
        return ToLong(v, n) && ((c.options.*field = static_cast<T>(n)), true);
    };
}

template <typename T>
Setter SettingInt(T SimSettings::*field, long long low, long long high) {
    return [=](SimCommandLine& c, const std::string& v) {
        long long n = 0;
        return ToLong(v, n) && n >= low && n <= high &&
               ((c.options.settings.*field = static_cast<T>(n)), true);
    };
}

Setter TimingMs(int64_t SimTiming::*field) {
    return [field](SimCommandLine& c, const std::string& v) {
        long long n = 0;
        return ToLong(v, n) && n >= 0 && ((c.options.timing.*field = n), true);
    };
}

// "2.5ABC": major, minor and up to three suffix characters.
bool ParseVersion(const std::string& text, SimVersion& version) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) {
        return false;
    }
    size_t end = dot + 1;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    long long major = 0;
    long long minor = 0;
    if (!ToLong(text.substr(0, dot), major) || !ToLong(text.substr(dot + 1, end - dot - 1), minor) ||
        major < 0 || major > 255 || minor < 0 || minor > 255 || text.size() - end > 3) {
        return false;
    }
    version = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor), text.substr(end)};
    return true;
}

bool AddByte(std::set<uint8_t>& set, const std::string& v) {
    long long n = 0;
    return ToLong(v, n) && n >= 0 && n <= 255 && set.insert(static_cast<uint8_t>(n)).second;
}

const std::vector<OptionRow>& Rows() {
    static const std::vector<OptionRow> rows = {
        {"help", nullptr, "show this text",
         [](SimCommandLine& c, const std::string&) { return c.help = true; }},
        {"device", "PATH", "serve this serial device instead of creating a pseudo-terminal",
         [](SimCommandLine& c, const std::string& v) { return !(c.options.devicePath = v).empty(); }},
        {"link", "PATH", "make PATH a symbolic link to the device",
         [](SimCommandLine& c, const std::string& v) { return !(c.linkPath = v).empty(); }},
        {"record", "FILE", "write every sentence and frame sent and received to FILE, one per line",
         [](SimCommandLine& c, const std::string& v) { return !(c.options.recordPath = v).empty(); }},
        {"replay", "FILE", "play the recording FILE at its recorded pace instead (a plain capture at --baud)",
         [](SimCommandLine& c, const std::string& v) { return !(c.replayPath = v).empty(); }},
        {"image-out", "FILE", "write the received image to FILE after programming (.hex: S-records)",
         [](SimCommandLine& c, const std::string& v) { return !(c.imageOut = v).empty(); }},
        {"baud", "RATE", "starting baud rate (4800 9600 19200 38400 57600 115200; 19200)",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && IsSupportedBaudRate(static_cast<uint32_t>(n)) &&
                    ((c.options.settings.baudRate = static_cast<uint32_t>(n)), true);
         }},
        {"nmea-mask", "BITS",
         "sentences: 1 GGA, 2 GSA, 4 ZDA, 8 VTG, 16 RMC, 32 SNR (0x11); 0 sends own frames",
         SettingInt(&SimSettings::nmeaMask, 0, 0x3F)},
        {"nmea-rate", "HZ", "sentences per second, 1 or 5 (1)",
         [](SimCommandLine& c, const std::string& v) {
             return (v == "1" || v == "5") &&
                    ((c.options.settings.nmeaRate = static_cast<uint8_t>(v[0] - '0')), true);
         }},
        {"waas", "0|1", "WAAS on (1)", SettingInt(&SimSettings::waasOn, 0, 1)},
        {"corrections-off", "0|1", "differential corrections off (0)",
         SettingInt(&SimSettings::correctionsOff, 0, 1)},
        {"default-channel", "N", "default correction channel (1000)",
         SettingInt(&SimSettings::defaultChannel, INT32_MIN, INT32_MAX)},
        {"alt-freq", "0|1", "alternate correction frequency in use (0)",
         SettingInt(&SimSettings::altFreqInUse, 0, 1)},
        {"alt-channel", "N", "alternate correction channel (0)",
         SettingInt(&SimSettings::altChannel, INT32_MIN, INT32_MAX)},
        {"tcm", "0|1", "TCM on (1)", SettingInt(&SimSettings::tcmOn, 0, 1)},
        {"height", "INCHES", "antenna height, 1-200 (60)", SettingInt(&SimSettings::lcHeight, 1, 200)},
        {"fore-aft", "INCHES", "fore/aft offset, 1-200 (12)", SettingInt(&SimSettings::lcForeAft, 1, 200)},
        {"fore-aft-editable", "0|1", "fore/aft offset editable (1)",
         SettingInt(&SimSettings::foreAftEditable, 0, 1)},
        {"tcm-forward", "0|1", "TCM mounted forward (1)", SettingInt(&SimSettings::tcmForward, 0, 1)},
        {"calibrated", "0|1", "TCM level calibration done (0)",
         SettingInt(&SimSettings::tcmCalibrated, 0, 1)},
        {"version", "M.NSUF", "software version, e.g. 1.0SIM (1.0SIM)",
         [](SimCommandLine& c, const std::string& v) { return ParseVersion(v, c.options.version); }},
        {"new-version", "M.NSUF", "version after a software load (minor + 1)",
         [](SimCommandLine& c, const std::string& v) {
             SimVersion version;
             return ParseVersion(v, version) && ((c.options.newVersion = version), true);
         }},
        {"serial", "N", "hardware serial number (5200417)",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && ((c.options.hardware.serialNumber = static_cast<int32_t>(n)), true);
         }},
        {"part", "TEXT", "hardware part number, up to 16 characters (LT-2000-0100)",
         [](SimCommandLine& c, const std::string& v) {
             return v.size() <= 16 && ((c.options.hardware.partNumber = v), true);
         }},
        {"hw-version", "N", "hardware version number (3)",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && ((c.options.hardware.versionNumber = static_cast<int32_t>(n)), true);
         }},
        {"compat", "TEXT", "hardware compatibility number, up to 5 characters (C0102)",
         [](SimCommandLine& c, const std::string& v) {
             return v.size() <= 5 && ((c.options.hardware.compatibility = v), true);
         }},
        {"cal-time", "MS", "one level measurement (2000)", TimingMs(&SimTiming::calibrationMs)},
        {"cal-value", "N", "calibration value reported with state 7 (100)",
         Integer(&SimOptions::calibrationValue)},
        {"moving", nullptr, "the vehicle is moving: calibration answers state 2",
         [](SimCommandLine& c, const std::string&) { return c.options.vehicleMoving = true; }},
        {"program-time", "MS", "X1F_PROGRAM until X1F_PASS (6000)", TimingMs(&SimTiming::programMs)},
        {"working-interval", "MS", "X1F_WORKING while programming (2000)",
         TimingMs(&SimTiming::workingIntervalMs)},
        {"power-cycle-after", "MS", "automatic power cycle after programming; 0 waits for one (5000)",
         TimingMs(&SimTiming::powerCycleAfterMs)},
        {"power-off", "MS", "how long a power cycle keeps the receiver dark (500)",
         TimingMs(&SimTiming::powerOffMs)},
        {"time-scale", "X", "multiply every delay and the line's pacing by X (1)",
         [](SimCommandLine& c, const std::string& v) { return ToDouble(v, c.options.timing.timeScale); }},
        {"no-crc", nullptr, "a target that cannot check CRCs: X1F_BADCMD to the CRC commands",
         [](SimCommandLine& c, const std::string&) { return !(c.options.crcSupported = false); }},
        {"crc-allows-gaps", nullptr, "the CRC check accepts an image with holes",
         [](SimCommandLine& c, const std::string&) { return c.options.crcAllowsGaps = true; }},
        {"random-start", "N", "random start value for noise, drops and garbling (1)",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && ((c.options.randomStart = static_cast<uint64_t>(n)), true);
         }},
        {"noise", "BER", "bit error rate on the line, both directions (0)",
         [](SimCommandLine& c, const std::string& v) { return ToDouble(v, c.options.faults.bitErrorRate); }},
        {"drop", "RATE", "share of bytes lost on the line, both directions (0)",
         [](SimCommandLine& c, const std::string& v) { return ToDouble(v, c.options.faults.dropRate); }},
        {"no-reply", "ID", "leave requests for and commands in message ID unanswered (repeatable)",
         [](SimCommandLine& c, const std::string& v) { return AddByte(c.options.faults.noReplyTo, v); }},
        {"no-reply-x1f", "CODE", "leave bootloader command CODE unanswered (repeatable)",
         [](SimCommandLine& c, const std::string& v) { return AddByte(c.options.faults.noReplyX1f, v); }},
        {"x1f-reply", "CMD=CODE", "answer bootloader command CMD with reply CODE, e.g. 2=101 (repeatable)",
         [](SimCommandLine& c, const std::string& v) {
             const size_t eq = v.find('=');
             long long cmd = 0;
             long long code = 0;
             return eq != std::string::npos && ToLong(v.substr(0, eq), cmd) &&
                    ToLong(v.substr(eq + 1), code) && cmd >= 0 && cmd <= 255 && code >= 0 && code <= 255 &&
                    ((c.options.faults.x1fReplyCode[static_cast<uint8_t>(cmd)] = static_cast<uint8_t>(code)),
                     true);
         }},
        {"reject-255", nullptr, "send every binary frame with id 255",
         [](SimCommandLine& c, const std::string&) { return c.options.faults.reject255 = true; }},
        {"muted-until-load", nullptr, "answer no request or command until new software runs",
         [](SimCommandLine& c, const std::string&) { return c.options.faults.mutedUntilLoad = true; }},
        {"silent", nullptr, "send nothing at all",
         [](SimCommandLine& c, const std::string&) { return c.options.faults.silent = true; }},
        {"other-talkers", nullptr, "send only sentences of other talkers ($GL, $BD, $GN), no frames",
         [](SimCommandLine& c, const std::string&) { return c.options.faults.otherTalkersOnly = true; }},
        {"no-line-ends", nullptr, "send sentences without their CR LF",
         [](SimCommandLine& c, const std::string&) { return c.options.faults.noLineEnds = true; }},
        {"rate-switch-delay", "MS",
         "keep listening at the old rate this long after answering a rate change (0)",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && n >= 0 && ((c.options.faults.rateSwitchDelayMs = n), true);
         }},
        {"vanish-after-loads", "N", "close the line after answering N X1F_LOAD blocks",
         [](SimCommandLine& c, const std::string& v) {
             long long n = 0;
             return ToLong(v, n) && n >= 0 &&
                    ((c.options.faults.vanishAfterLoads = static_cast<int>(n)), true);
         }},
    };
    return rows;
}

}  // namespace

SimCommandLine ParseSimCommandLine(const std::vector<std::string>& args) {
    SimCommandLine result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const OptionRow* row = nullptr;
        for (const OptionRow& r : Rows()) {
            if (arg == std::string("--") + r.name) {
                row = &r;
            }
        }
        if (row == nullptr) {
            result.error = "unknown option " + arg;
            return result;
        }
        std::string value;
        if (row->argument != nullptr) {
            if (i + 1 >= args.size()) {
                result.error = arg + " needs " + row->argument;
                return result;
            }
            value = args[++i];
        }
        if (!row->set(result, value)) {
            result.error = "bad value for " + arg;
            result.error += ": " + value;
            return result;
        }
    }
    return result;
}

std::string SimHelpText() {
    std::string text =
        "Usage: lctrovi-sim [options]\n"
        "A simulated receiver on a pseudo-terminal: prints the device to open and runs until\n"
        "interrupted. Type \"power\" and Enter (or send SIGUSR1) to cycle its power, \"moving on\" or\n"
        "\"moving off\" to move the vehicle, \"image FILE\" to write the received image.\n\n";
    for (const OptionRow& row : Rows()) {
        std::string left = std::string("  --") + row.name;
        if (row.argument != nullptr) {
            left += std::string(" ") + row.argument;
        }
        left.resize(std::max<size_t>(left.size() + 1, 30), ' ');
        text += left + row.help + "\n";
    }
    return text;
}
