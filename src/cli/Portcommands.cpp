// lctrovi ports and lctrovi detect: the port list and the search of the port dialog.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Detecthost.h"
#include "cli/Session.h"
#include "link/Portsearch.h"
#include "link/Regutils.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "proto/Sentences.h"

namespace {
namespace fs = std::filesystem;

#ifdef _WIN32
const char* const kPortsHelp =
    "Usage: lctrovi ports\n"
    "List the serial ports as the port dialog lists them: the ports of the registry's\n"
    "HARDWARE\\DEVICEMAP\\SERIALCOMM, COM1 and COM2 first.\n"
    "\n"
    "  --help         show this help and exit\n";
const std::set<std::string> kPortsOptions = {};
#else
const char* const kPortsHelp =
    "Usage: lctrovi ports [--sysfs DIR]\n"
    "List the serial ports as the port dialog lists them, with the kernel's description of\n"
    "each USB device (vendor and product).\n"
    "\n"
    "  --sysfs DIR    read the tty class from DIR (default /sys/class/tty)\n"
    "  --help         show this help and exit\n";
const std::set<std::string> kPortsOptions = {"--sysfs"};
#endif

const char* const kDetectHelp =
    "Usage: lctrovi detect [--device D[,D...]] [--baud B] [--all [--json]]\n"
    "Search for a receiver as the port dialog does: every port (or those given, in order),\n"
    "every rate of 4800, 9600, 19200 and 38400 (or the one given), about two seconds each. A\n"
    "device that cannot be opened is reported and skipped. Prints the device and rate found,\n"
    "or \"Failed to find unit.\" with exit status 1.\n"
    "With --all, search all the ports at the same time (--device may then be given more than\n"
    "once) and list every port searched: device, rate, software version and serial number of\n"
    "the receiver found there, or \"no receiver\". A terminal shows the search's progress. With\n"
    "--json, a port where no receiver answered has \"found\": false and null baud, version and\n"
    "serial. Exit status 1 when no receiver answered.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --all          find every receiver, searching the ports in parallel\n"
    "  --json         with --all: print the list as JSON\n"
    "  --help         show this help and exit\n";

#ifndef _WIN32
constexpr int kUsbLevels = 4;  // from a tty's device up to its USB device

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// "0403:6001 FTDI FT232R USB UART" for a USB device; empty when the kernel names none.
std::string UsbDescription(const fs::path& ttyDir) {
    std::error_code error;
    fs::path device = fs::canonical(ttyDir / "device", error);
    for (int level = 0; !error && level < kUsbLevels && !device.empty(); ++level) {
        if (fs::exists(device / "idVendor", error)) {
            std::string text = ReadFirstLine(device / "idVendor") + ":" + ReadFirstLine(device / "idProduct");
            for (const char* name : {"manufacturer", "product"}) {
                const std::string part = ReadFirstLine(device / name);
                if (!part.empty()) {
                    text += " " + part;
                }
            }
            return text;
        }
        device = device.parent_path();
    }
    return {};
}
#endif

// What the system tells about a port besides its name: the USB device behind a tty on Linux;
// nothing on Windows, whose registry names the ports only.
std::string PortDescription([[maybe_unused]] const std::string& sysfs,
                            [[maybe_unused]] const std::string& name) {
#ifdef _WIN32
    return {};
#else
    return UsbDescription(fs::path(sysfs) / name);
#endif
}

bool ListSystemDevices(std::vector<std::string>& devices) {
    StringDeque system;
    if (!ListSerialPorts(system) || system.empty()) {
        std::fprintf(stderr, "No serial ports found\n");
        return false;
    }
    devices.assign(system.begin(), system.end());
    return true;
}

bool ListDetectRates(const CliArgs& parsed, std::vector<uint32_t>& rates) {
    rates.assign(kSearchRates.begin(), kSearchRates.end());
    const auto baud = parsed.Value("--baud");
    if (!baud) {
        return true;
    }
    for (uint32_t rate : kSearchRates) {
        if (*baud == std::to_string(rate)) {
            rates = {rate};
            return true;
        }
    }
    std::fprintf(stderr, "lctrovi: the search tries 4800, 9600, 19200 or 38400 baud, not %s\n",
                 baud->c_str());
    return false;
}
}  // namespace

int RunPorts(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, kPortsOptions, {}, kPortsHelp, parsed, status)) {
        return status;
    }
    const std::string sysfs = parsed.Value("--sysfs").value_or("/sys/class/tty");
    StringDeque names;
    const bool listed = parsed.Value("--sysfs") ? ListTtyDevices(sysfs, names) : ListSerialPorts(names);
    if (!listed || names.empty()) {
        std::fprintf(stderr, "No serial ports found\n");
        return kExitFailed;
    }
    for (const std::string& name : names) {
        const std::string description = PortDescription(sysfs, name);
        std::printf("%s%s%s\n", name.c_str(), description.empty() ? "" : "\t", description.c_str());
    }
    return kExitOk;
}

int RunDetect(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud"}, {"--all", "--json"}, kDetectHelp, parsed, status)) {
        return status;
    }
    std::vector<std::string> devices;
    std::vector<uint32_t> rates;
    if (!ListDetectRates(parsed, rates)) {
        return kExitUsage;
    }
    if (parsed.Has("--all")) {
        return RunDetectAll(parsed, rates);
    }
    if (parsed.Value("--device")) {
        devices = GivenDevices(parsed);
        if (devices.empty()) {
            std::fprintf(stderr, "lctrovi: --device names no device\n");
            return kExitUsage;
        }
    } else if (!ListSystemDevices(devices)) {
        return kExitFailed;
    }
    const bool deviceFixed = devices.size() == 1;
    const bool rateFixed = rates.size() == 1;
    DetectHost host(devices, rates);
    PortSearch search(host, CurrentClock());
    search.Start(devices, rates, deviceFixed, rateFixed, 0, 0);
    while (search.Searching()) {
        host.Receive(kReceiveTickMs);
        search.Tick();
    }
    if (!host.Found()) {
        if (!host.RateRefused()) {  // a refusal has said why already
            std::fprintf(stderr, "Failed to find unit.\n");
        }
        return kExitFailed;
    }
    // A line of fixed rate runs at its server's rate, whatever rate was tried.
    if (host.FoundAtFixedRate()) {
        std::printf("%s %s\n", host.FoundDevice().c_str(), kServersRate);
    } else {
        std::printf("%s %u\n", host.FoundDevice().c_str(), rates[static_cast<size_t>(*host.Found())]);
    }
    return kExitOk;
}
