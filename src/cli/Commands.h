#pragma once
// The subcommands of lctrovi. Each takes the arguments after its name, prints its results
// on standard output and its complaints on standard error, and returns the exit status.
#include <string>
#include <vector>

#include "cli/Cliargs.h"

using Arguments = std::vector<std::string>;

// What a line of fixed rate runs at, whatever --baud says.
inline constexpr const char* kServersRate = "the rate its server is set to";

int RunPorts(const Arguments& args);
int RunDetect(const Arguments& args);
int RunMonitor(const Arguments& args);
int RunRecord(const Arguments& args);
int RunReplay(const Arguments& args);
int RunAccuracy(const Arguments& args);
int RunExport(const Arguments& args);
int RunConfig(const Arguments& args);
int RunInfo(const Arguments& args);
int RunCalibrate(const Arguments& args);
int RunLoad(const Arguments& args);

// Parses the arguments; when --help was asked for or the line is wrong, prints the help or
// the complaint and sets `status`. True when the command should go on.
bool ReadCommandLine(const Arguments& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags, const char* help, CliArgs& parsed, int& status);

// The options every command that talks to a receiver shares, for the help texts.
#ifdef _WIN32
#define LCT_DEVICE_OPTION_HELP "  --device D     the serial device (a port name such as COM3)\n"
#else
#define LCT_DEVICE_OPTION_HELP "  --device D     the serial device (a name such as ttyUSB0, or a path)\n"
#endif
#define LCT_PORT_OPTIONS_HELP \
    LCT_DEVICE_OPTION_HELP "  --baud B       the rate of the PC port (default 19200)\n"
