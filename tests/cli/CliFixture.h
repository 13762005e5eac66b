#pragma once
// A simulated receiver on a pseudo-terminal and the built lctrovi run against it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FlatJson.h"
#include "sim/Simreceiver.h"

// The lines of a command's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A file's whole content.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliTest : public ::testing::Test {
  protected:
    static constexpr int kTimeoutMs = 60'000;

    void StartSim(const SimOptions& options = {}) {
        sim = std::make_unique<SimReceiver>(options);
        ASSERT_TRUE(sim->Start()) << sim->LastError();
    }
    void TearDown() override {
        if (sim) {
            sim->Stop();
        }
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    static ChildResult Lctrovi(const std::vector<std::string>& args, const std::string& input = "",
                               const std::function<void(const std::string&)>& onOutput = {},
                               bool outputTerminal = false, int* childPid = nullptr) {
        return RunChild(LCTROVI_PATH, args, input, kTimeoutMs, onOutput, outputTerminal, childPid);
    }
    // The arguments with the simulator's device in front.
    std::vector<std::string> AtSim(std::vector<std::string> args) const {
        args.insert(args.begin() + (args.empty() ? 0 : 1), {"--device", sim->DevicePath()});
        return args;
    }
    // A file under a directory of this test's own.
    std::string ScratchFile(const std::string& name) {
        if (scratch_.empty()) {
            scratch_ = std::filesystem::temp_directory_path() /
                       ("lct-cli-" + std::to_string(getpid()) + "-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::filesystem::create_directories(scratch_);
        }
        return (scratch_ / name).string();
    }

    std::unique_ptr<SimReceiver> sim;

  private:
    std::filesystem::path scratch_;
};
