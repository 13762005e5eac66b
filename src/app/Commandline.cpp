#include "app/Commandline.h"

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            cl.help = true;
        } else if (!optionsEnded && (arg == "--version" || arg == "-V")) {
            cl.version = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            cl.error = "unknown option: " + arg;
        } else {
            cl.devices.push_back(arg);
        }
    }
    return cl;
}

std::string UsageText() {
    return "Usage: lctrovi-utility [OPTION] [DEVICE ...]\n"
           "Sets up and services a Lumacor Trovi receiver over a serial line.\n"
           "\n"
           "DEVICE names a serial device to list first in the port dialog (for example\n"
           "/dev/pts/3 of a simulated receiver, or ttyUSB0), or a receiver on the network:\n"
           "rfc2217://HOST:PORT (a serial device server that lets the program change the\n"
           "rate) or tcp://HOST:PORT (fixed rate). The first one is selected.\n"
           "No port is opened at start-up.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n";
}

std::string VersionText() {
    return "lctrovi-utility " LCT_VERSION "\n";
}
