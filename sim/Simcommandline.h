#pragma once
// The command line of lctrovi-sim, parsed into options.
#include <string>
#include <vector>

#include "sim/Simoptions.h"

struct SimCommandLine {
    SimOptions options;
    std::string linkPath;    // make this symlink to the device
    std::string imageOut;    // write the received image here after each programming
    std::string replayPath;  // play this recording instead of simulating a receiver
    bool help = false;
    std::string error;  // set when the command line is not understood
};

SimCommandLine ParseSimCommandLine(const std::vector<std::string>& args);
// The text of --help: every option with its default.
std::string SimHelpText();
