// lctrovi detect --all: every port searched at the same time, each on a thread of its own with
// its own port and search, so that the whole search takes as long as the slowest port.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "cli/Batch.h"
#include "cli/Detecthost.h"
#include "cli/Receiverquery.h"
#include "config/Hardwaremsg.h"
#include "link/Regutils.h"

namespace {
constexpr int64_t kIdentityWaitMs = 3000;

// One device at every rate, as detect searches it; then its version and serial number.
std::optional<FoundReceiver> SearchDevice(const std::string& device, const std::vector<uint32_t>& rates) {
    std::optional<int> rateIndex;
    {
        DetectHost host({device}, rates, false);
        PortSearch search(host, CurrentClock());
        search.Start({device}, rates, true, rates.size() == 1, 0, 0);
        while (search.Searching()) {
            host.Receive(kReceiveTickMs);
            search.Tick();
        }
        rateIndex = host.Found();
    }  // the search's port is closed here
    if (!rateIndex) {
        return std::nullopt;
    }
    FoundReceiver found{device, rates[static_cast<size_t>(*rateIndex)], "Not Known", std::nullopt};
    AnyLine port;
    port.SetBlocking(true);
    if (!port.Open(device, found.baud, 0)) {
        return found;
    }
    port.Purge();
    if (const auto software = AskVersion(port, kIdentityWaitMs)) {
        found.version = software->version;
    }
    if (const auto payload = AskQuietly(port, msgid::kHardware, kIdentityWaitMs)) {
        if (const auto info = DecodeHardwareInfo(payload->data(), payload->size())) {
            found.serial = info->serialNumber;
        }
    }
    return found;
}

std::string JsonText(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return quoted + "\"";
}

void PrintFound(const std::vector<FoundReceiver>& found, bool json) {
    if (json) {
        std::printf("[\n");
        for (size_t i = 0; i < found.size(); ++i) {
            const FoundReceiver& r = found[i];
            std::printf("{\"device\": %s, \"baud\": %u, \"version\": %s, \"serial\": %s}%s\n",
                        JsonText(r.device).c_str(), r.baud, JsonText(r.version).c_str(),
                        r.serial ? std::to_string(*r.serial).c_str() : "null",
                        i + 1 < found.size() ? "," : "");
        }
        std::printf("]\n");
        return;
    }
    int width = static_cast<int>(std::string("DEVICE").size());
    for (const FoundReceiver& r : found) {
        width = std::max(width, static_cast<int>(r.device.size()));
    }
    std::printf("%-*s  %-6s  %-9s  %s\n", width, "DEVICE", "BAUD", "VERSION", "SERIAL");
    for (const FoundReceiver& r : found) {
        std::printf("%-*s  %-6u  %-9s  %s\n", width, r.device.c_str(), r.baud, r.version.c_str(),
                    r.serial ? std::to_string(*r.serial).c_str() : "-");
    }
}
}  // namespace

std::vector<std::string> GivenDevices(const CliArgs& parsed) {
    std::vector<std::string> devices;
    for (const std::string& given : parsed.Values("--device")) {
        for (size_t start = 0; start <= given.size();) {
            const size_t comma = std::min(given.find(',', start), given.size());
            if (comma > start) {
                devices.push_back(given.substr(start, comma - start));
            }
            start = comma + 1;
        }
    }
    return devices;
}

bool DetectAll(const std::vector<std::string>& given, const std::vector<uint32_t>& rates,
               std::vector<FoundReceiver>& found) {
    std::vector<std::string> devices;
    for (const std::string& device : given) {  // each port searched once
        if (std::find(devices.begin(), devices.end(), device) == devices.end()) {
            devices.push_back(device);
        }
    }
    if (devices.empty()) {
        StringDeque system;
        if (!ListSerialPorts(system) || system.empty()) {
            std::fprintf(stderr, "No serial ports found\n");
            return false;
        }
        devices.assign(system.begin(), system.end());
    }
    if (devices.size() > kMaxBatchReceivers) {
        std::fprintf(stderr, "lctrovi: at most %zu devices at once\n", kMaxBatchReceivers);
        return false;
    }
    // Each thread writes its own slot only; joining them publishes the results.
    std::vector<std::optional<FoundReceiver>> results(devices.size());
    std::vector<std::thread> searches;
    searches.reserve(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        searches.emplace_back([&, i] { results[i] = SearchDevice(devices[i], rates); });
    }
    for (std::thread& search : searches) {
        search.join();
    }
    found.clear();
    for (auto& result : results) {
        if (result) {
            found.push_back(std::move(*result));
        }
    }
    return true;
}

int RunDetectAll(const CliArgs& parsed, const std::vector<uint32_t>& rates) {
    std::vector<FoundReceiver> found;
    if (!DetectAll(GivenDevices(parsed), rates, found)) {
        return kExitFailed;
    }
    if (found.empty()) {
        std::fprintf(stderr, "Failed to find unit.\n");
        return kExitFailed;
    }
    PrintFound(found, parsed.Has("--json"));
    return kExitOk;
}
