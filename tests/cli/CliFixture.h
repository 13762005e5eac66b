#pragma once
// A simulated receiver on a pseudo-terminal and the built lctrovi run against it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "sim/Simreceiver.h"

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

// Reads a flat JSON object of strings and numbers, as the tool prints it; empty when the text is
// not one.
inline std::map<std::string, std::string> ParseFlatJson(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t i = 0;
    const auto skipSpace = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
    };
    const auto readString = [&](std::string& into) {
        if (i >= text.size() || text[i] != '"') {
            return false;
        }
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            into += text[i];
        }
        return i++ < text.size();
    };
    skipSpace();
    if (i >= text.size() || text[i++] != '{') {
        return {};
    }
    for (;;) {
        skipSpace();
        std::string key;
        std::string value;
        if (!readString(key)) {
            return {};
        }
        skipSpace();
        if (i >= text.size() || text[i++] != ':') {
            return {};
        }
        skipSpace();
        if (i < text.size() && text[i] == '"') {
            if (!readString(value)) {
                return {};
            }
        } else {
            while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) != 0 ||
                                       text[i] == '-' || text[i] == '.')) {
                value += text[i++];
            }
            if (value.empty()) {
                return {};
            }
        }
        fields[key] = value;
        skipSpace();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        skipSpace();
        if (i >= text.size() || text[i++] != '}') {
            return {};
        }
        skipSpace();
        return i == text.size() ? fields : std::map<std::string, std::string>{};
    }
}
