#include "WineRig.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The first `name` on the PATH, or "" when there is none.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

std::string PortLink(const std::string& port) {
    std::string name = port;
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return (fs::path(LCT_WINE_PORTS) / name).string();
}

MappedPort::MappedPort(const std::string& port, const std::string& device) : link_(PortLink(port)) {
    std::error_code ignored;
    fs::remove(link_, ignored);
    fs::create_symlink(device, link_);
}

MappedPort::~MappedPort() {
    std::error_code ignored;
    fs::remove(link_, ignored);
}

MappedSim::MappedSim(const std::string& port, const SimOptions& options)
    : sim_(std::make_unique<SimReceiver>(options)) {
    EXPECT_TRUE(sim_->Start()) << sim_->LastError();
    mapping_ = std::make_unique<MappedPort>(port, sim_->DevicePath());
}

void WineTest::SetUp() {
    if (FindOnPath("wine").empty()) {
        GTEST_SKIP() << "Wine is not installed (scripts/install-deps installs wine64): the Windows programs "
                        "cannot run here";
    }
    ASSERT_TRUE(fs::exists(fs::path(LCT_WINE_PREFIX) / "lct-ready"))
        << "no Wine prefix at " << LCT_WINE_PREFIX << ": ctest makes it in the test wine_prefix";
    for (const char* program : {"src/cli/lctrovi.exe", "tests/wine/lct_link_win_tests.exe"}) {
        ASSERT_TRUE(fs::exists(fs::path(LCT_WINDOWS_BUILD_DIR) / program))
            << program << " is missing in " << LCT_WINDOWS_BUILD_DIR
            << ": build the windows-cross preset first (cmake --preset windows-cross && cmake --build "
               "--preset "
               "windows-cross)";
    }
    setenv("WINEPREFIX", LCT_WINE_PREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}

ChildResult WineTest::RunWindowsProgram(const std::string& program, const std::vector<std::string>& args,
                                        const std::string& input,
                                        const std::function<void(const std::string&)>& onOutput,
                                        int timeoutMs) {
    std::vector<std::string> wineArgs = {(fs::path(LCT_WINDOWS_BUILD_DIR) / program).string()};
    wineArgs.insert(wineArgs.end(), args.begin(), args.end());
    ChildResult result =
        RunChild(FindOnPath("wine"), wineArgs, input, timeoutMs, [&](const std::string& out) {
            if (onOutput) {
                onOutput(WithoutCarriageReturns(out));
            }
        });
    result.out = WithoutCarriageReturns(result.out);
    result.err = WithoutCarriageReturns(result.err);
    return result;
}
