// lctrovi: scripted service of a receiver from the command line, over the same engines as the
// program's windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"

namespace {
const char* const kUsage =
    "Usage: lctrovi COMMAND [OPTIONS]\n"
    "Service a Lumacor Trovi receiver over a serial line.\n"
    "\n"
    "Commands:\n"
    "  ports                    list the serial ports\n"
    "  detect                   search the ports and rates for a receiver\n"
    "  monitor                  show the received sentences and messages, and log NMEA\n"
    "  record                   record what the receiver sends, with its timing, to a file\n"
    "  replay FILE              show a recording as monitor showed it live\n"
    "  accuracy                 how well the receiver holds its position (CEP, 2DRMS), live or\n"
    "                           from a recording\n"
    "  export FILE              write the track in a recording as GPX, KML or CSV\n"
    "  config get               print the receiver's settings\n"
    "  config set KEY=VALUE...  change settings\n"
    "  config save|apply FILE   save the settings to a setup file, or apply one\n"
    "  info                     print the hardware identity\n"
    "  calibrate                run the TCM level calibration\n"
    "  load FILE                load new receiver software (load --check FILE: check only)\n"
    "\n"
    "Options:\n"
    "  --help         show this help (COMMAND --help: the command's help) and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "--device D names a serial device (ttyUSB0, /dev/ttyS0, COM3), or a receiver on the\n"
    "network: rfc2217://HOST:PORT (the program may change the rate) or tcp://HOST:PORT\n"
    "(fixed rate; load, detect over rates and baud changes are refused).\n"
    "\n"
    "Exit status: 0 success, 1 the receiver was not found or the work failed,\n"
    "2 a wrong command line or value.\n";

struct Command {
    const char* name;
    int (*run)(const Arguments&);
};
constexpr Command kCommands[] = {
    {"ports", RunPorts},   {"detect", RunDetect},       {"monitor", RunMonitor}, {"record", RunRecord},
    {"replay", RunReplay}, {"accuracy", RunAccuracy},   {"export", RunExport},   {"config", RunConfig},
    {"info", RunInfo},     {"calibrate", RunCalibrate}, {"load", RunLoad},
};
}  // namespace

bool ReadCommandLine(const Arguments& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags, const char* help, CliArgs& parsed, int& status) {
    std::set<std::string> known = flags;
    known.insert("--help");
    parsed = ParseArgs(args, valued, known);
    if (parsed.Has("--help")) {
        std::fputs(help, stdout);
        status = kExitOk;
        return false;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "lctrovi: %s\n%s", parsed.error.c_str(), help);
        status = kExitUsage;
        return false;
    }
    return true;
}

int main(int argc, char** argv) {
    const Arguments args(argv + (argc > 1 ? 2 : 1), argv + argc);
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--version") {
        std::printf("lctrovi %s\n", LCT_VERSION);
        return kExitOk;
    }
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (first == command.name) {
            return command.run(args);
        }
    }
    std::fprintf(stderr, first.empty() ? "lctrovi: no command given\n%s" : "lctrovi: unknown command\n%s",
                 kUsage);
    return kExitUsage;
}
