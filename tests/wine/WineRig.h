#pragma once
// Runs the Windows builds under Wine against simulated receivers. The prefix (made by the
// wine_prefix test, see wine-prefix) maps COM5 to COM8 to links in a ports folder; a test
// points a link at a pseudo-terminal, and the Windows program opening that COM port talks to
// whatever holds the pseudo-terminal's far end.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../cli/ChildProcess.h"
#include "sim/Simreceiver.h"

// Points the link of a COM port at a device for as long as it lives.
class MappedPort {
  public:
    MappedPort(const std::string& port, const std::string& device);
    ~MappedPort();
    MappedPort(const MappedPort&) = delete;
    MappedPort& operator=(const MappedPort&) = delete;

  private:
    std::string link_;
};

// The link of a COM port in the ports folder ("COM5" -> .../ports/com5).
std::string PortLink(const std::string& port);

// A simulated receiver on a pseudo-terminal mapped to a COM port.
class MappedSim {
  public:
    MappedSim(const std::string& port, const SimOptions& options);
    SimReceiver& Sim() { return *sim_; }

  private:
    std::unique_ptr<SimReceiver> sim_;
    std::unique_ptr<MappedPort> mapping_;
};

class WineTest : public ::testing::Test {
  protected:
    static constexpr int kTimeoutMs = 120'000;

    // Skips without Wine; fails when the prefix or the Windows build is missing.
    void SetUp() override;

    // Runs a program of the windows-cross build (a path below it) under Wine. Standard output
    // and error come back with Windows line ends turned into "\n".
    static ChildResult RunWindowsProgram(const std::string& program, const std::vector<std::string>& args,
                                         const std::string& input = "",
                                         const std::function<void(const std::string&)>& onOutput = {},
                                         int timeoutMs = kTimeoutMs);
    static ChildResult Lctrovi(const std::vector<std::string>& args, const std::string& input = "",
                               const std::function<void(const std::string&)>& onOutput = {}) {
        return RunWindowsProgram("src/cli/lctrovi.exe", args, input, onOutput);
    }
};
