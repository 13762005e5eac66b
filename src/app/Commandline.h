#pragma once
// The program's command line: `lctrovi-utility [--help] [--version] [DEVICE ...]`. Devices
// named there (such as a simulator's pseudo-terminal, which the system's port list cannot
// show) head the port dialog's device list, the first of them selected.
#include <string>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    std::vector<std::string> devices;
    std::string error;  // non-empty for an option the program does not know
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
std::string VersionText();
