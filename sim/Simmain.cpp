// lctrovi-sim: the simulated receiver as a program. Prints the device to open, then runs
// until SIGINT or SIGTERM. SIGUSR1 or the line "power" on standard input cycles its power.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "sim/Simcommandline.h"
#include "sim/Simimagefile.h"
#include "sim/Simreceiver.h"
#include "sim/Simreplay.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const auto byte = static_cast<uint8_t>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void InstallSignals() {
    if (pipe(signalPipe) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
}

// Handles one line typed on standard input. False to quit.
bool Control(SimReceiver& sim, const std::string& line) {
    if (line == "power") {
        sim.PowerCycle();
        std::printf("power cycled\n");
    } else if (line == "moving on" || line == "moving off") {
        sim.SetVehicleMoving(line == "moving on");
    } else if (line == "silent on" || line == "silent off") {
        SimFaults faults = sim.Faults();
        faults.silent = line == "silent on";
        sim.SetFaults(faults);
    } else if (line.rfind("image ", 0) == 0) {
        const std::string path = line.substr(6);
        std::printf(sim.WriteImage(path) ? "image written to %s\n" : "cannot write %s\n", path.c_str());
    } else if (line == "quit") {
        return false;
    } else if (!line.empty()) {
        std::printf("commands: power, moving on, moving off, silent on, silent off, image FILE, quit\n");
    }
    std::fflush(stdout);
    return true;
}

// The image, written once after each programming that finished.
void SaveImageAfterProgramming(SimReceiver& sim, const std::string& path, bool& saved) {
    const bool programmed = sim.Mode() == SimMode::kProgrammed;
    if (programmed && !saved && !path.empty()) {
        WriteImageFile(sim.ProgrammedImage(), path);
        std::printf("programmed image written to %s\n", path.c_str());
        std::fflush(stdout);
    }
    saved = programmed;
}

void RunUntilStopped(SimReceiver& sim, const std::string& imageOut) {
    bool stdinOpen = true;
    bool imageSaved = false;
    std::string typed;
    while (!sim.Vanished()) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        poll(fds, 2, 200);
        SaveImageAfterProgramming(sim, imageOut, imageSaved);
        if ((fds[0].revents & POLLIN) != 0) {
            uint8_t signal = 0;
            if (::read(signalPipe[0], &signal, 1) == 1 && signal != SIGUSR1) {
                return;
            }
            sim.PowerCycle();
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char chunk[256];
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0) {
                stdinOpen = false;  // no terminal: signals still work
                continue;
            }
            typed.append(chunk, static_cast<size_t>(n));
            for (size_t end = typed.find('\n'); end != std::string::npos; end = typed.find('\n')) {
                const std::string line = typed.substr(0, end);
                typed.erase(0, end + 1);
                if (!Control(sim, line)) {
                    return;
                }
            }
        }
    }
    std::printf("the device vanished\n");
}

// The --link: a symbolic link to the device, there while the simulator runs.
class DeviceLink {
  public:
    DeviceLink(std::string path, const std::string& device) : path_(std::move(path)) {
        if (path_.empty()) {
            return;
        }
        ::unlink(path_.c_str());
        if (::symlink(device.c_str(), path_.c_str()) != 0) {
            std::perror(path_.c_str());
        }
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

  private:
    std::string path_;
};

// Plays a recording onto a pseudo-terminal until SIGINT, SIGTERM or "quit" on standard input.
int RunReplay(const SimCommandLine& commandLine) {
    SimReplay replay(commandLine.replayPath, commandLine.options.settings.baudRate);
    if (!replay.Start()) {
        std::fprintf(stderr, "lctrovi-sim: %s\n", replay.LastError().c_str());
        return 1;
    }
    if (replay.PlainBytes()) {
        std::fprintf(stderr, "lctrovi-sim: %s is not a recording: playing its bytes at %u baud\n",
                     commandLine.replayPath.c_str(), replay.Baud());
    }
    const DeviceLink link(commandLine.linkPath, replay.DevicePath());
    std::printf("%s\n", replay.DevicePath().c_str());
    std::fflush(stdout);
    bool reported = false;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        poll(fds, 2, 200);
        if ((fds[0].revents & POLLIN) != 0) {
            uint8_t signal = 0;
            if (::read(signalPipe[0], &signal, 1) == 1 && signal != SIGUSR1) {
                break;
            }
        }
        if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            char typed[256];
            const ssize_t n = ::read(STDIN_FILENO, typed, sizeof typed);
            stdinOpen = n > 0;
            if (n > 0 && std::string(typed, static_cast<size_t>(n)).find("quit") != std::string::npos) {
                break;
            }
        }
        if (replay.Finished() && !reported) {
            reported = true;
            const std::string problem = replay.Problem();
            std::printf(problem.empty() ? "replay ended\n" : "replay stopped: %s\n", problem.c_str());
            std::fflush(stdout);
        }
    }
    replay.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const SimCommandLine commandLine = ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (commandLine.help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "lctrovi-sim: %s (see --help)\n", commandLine.error.c_str());
        return 2;
    }
    InstallSignals();
    if (!commandLine.replayPath.empty()) {
        return RunReplay(commandLine);
    }
    SimReceiver sim(commandLine.options);
    if (!sim.Start()) {
        std::fprintf(stderr, "lctrovi-sim: %s\n", sim.LastError().c_str());
        return 1;
    }
    const DeviceLink link(commandLine.linkPath, sim.DevicePath());
    std::printf("%s\n", sim.DevicePath().c_str());
    std::fflush(stdout);
    RunUntilStopped(sim, commandLine.imageOut);
    sim.Stop();
    return 0;
}
