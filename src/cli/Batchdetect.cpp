// lctrovi detect --all: every port searched at the same time, each on a thread of its own with
// its own port and search, so that the whole search takes as long as the slowest port. Every
// port searched is listed, with its receiver or "no receiver".
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/Batch.h"
#include "cli/Console.h"
#include "cli/Detecthost.h"
#include "cli/Receiverquery.h"
#include "config/Hardwaremsg.h"
#include "config/Json.h"
#include "link/Regutils.h"

namespace {
constexpr int64_t kIdentityWaitMs = 3000;
constexpr int64_t kRedrawMs = 200;  // the progress line is redrawn at most this often

// The search's progress on a terminal: one line, redrawn in place, that counts the devices
// searched so far. Each search thread reports to it; the main thread draws.
class SearchProgress {
  public:
    explicit SearchProgress(size_t devices) : total_(devices), startedMs_(CurrentClock().MonotonicMs()) {}

    // A device's first candidate was tried: a device that cannot be opened has said so by now.
    void Started() { Count(started_); }
    void Finished(bool found) { Count(found ? found_ : finished_); }

    // Draws until every search has finished, then clears the line for what follows. The line
    // is first drawn once every device has been tried, after the errors of those that cannot
    // be opened.
    void Watch(std::FILE* out) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::string drawn;
        while (found_ + finished_ < total_) {
            if (started_ == total_ && Text() != drawn) {
                drawn = Text();
                std::fprintf(out, "\r\x1b[2K%s", FitToTerminal(drawn).c_str());
                std::fflush(out);
            }
            changed_.wait_for(lock, std::chrono::milliseconds(kRedrawMs));
        }
        if (!drawn.empty()) {
            std::fputs("\r\x1b[2K", out);
            std::fflush(out);
        }
    }

  private:
    void Count(size_t& counter) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++counter;
        }
        changed_.notify_one();
    }

    // "Searching 4 ports: 1 found, 1 no receiver, 2 searching (6 s)"
    std::string Text() const {
        const int64_t seconds = (CurrentClock().MonotonicMs() - startedMs_) / 1000;
        return "Searching " + std::to_string(total_) + (total_ == 1 ? " port: " : " ports: ") +
               std::to_string(found_) + " found, " + std::to_string(finished_) + " no receiver, " +
               std::to_string(total_ - found_ - finished_) + " searching (" + std::to_string(seconds) + " s)";
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const size_t total_;
    const int64_t startedMs_;
    size_t started_ = 0;
    size_t found_ = 0;
    size_t finished_ = 0;  // without a receiver
};

// A device searched, with the receiver that answered there, if one did.
struct SearchedDevice {
    std::string device;
    std::optional<FoundReceiver> receiver;
};

// One device at every rate, as detect searches it; then its version and serial number.
std::optional<FoundReceiver> SearchDevice(const std::string& device, const std::vector<uint32_t>& rates,
                                          SearchProgress* progress) {
    std::optional<int> rateIndex;
    {
        DetectHost host({device}, rates, false);
        PortSearch search(host, CurrentClock());
        search.Start({device}, rates, true, rates.size() == 1, 0, 0);
        if (progress != nullptr) {
            progress->Started();
        }
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

// A device where no receiver answered has "found": false and null baud, version and serial;
// the other fields are those of the rows that scripts read before such rows were listed.
std::string JsonRow(const SearchedDevice& searched) {
    const std::string device = "{\"device\": " + JsonQuote(searched.device);
    const std::optional<FoundReceiver>& r = searched.receiver;
    if (!r) {
        return device + ", \"baud\": null, \"version\": null, \"serial\": null, \"found\": false}";
    }
    return device + ", \"baud\": " + std::to_string(r->baud) + ", \"version\": " + JsonQuote(r->version) +
           ", \"serial\": " + (r->serial ? std::to_string(*r->serial) : "null") + ", \"found\": true}";
}

// Every device searched, found or not: a table, or for scripts a JSON array, one object a line.
void PrintSearched(const std::vector<SearchedDevice>& searched, bool json) {
    if (json) {
        std::printf("[\n");
        for (size_t i = 0; i < searched.size(); ++i) {
            std::printf("%s%s\n", JsonRow(searched[i]).c_str(), i + 1 < searched.size() ? "," : "");
        }
        std::printf("]\n");
        return;
    }
    int width = static_cast<int>(std::string("DEVICE").size());
    for (const SearchedDevice& s : searched) {
        width = std::max(width, static_cast<int>(s.device.size()));
    }
    std::printf("%-*s  %-6s  %-9s  %s\n", width, "DEVICE", "BAUD", "VERSION", "SERIAL");
    for (const SearchedDevice& s : searched) {
        const std::optional<FoundReceiver>& r = s.receiver;
        if (!r) {
            std::printf("%-*s  no receiver\n", width, s.device.c_str());
            continue;
        }
        std::printf("%-*s  %-6u  %-9s  %s\n", width, s.device.c_str(), r->baud, r->version.c_str(),
                    r->serial ? std::to_string(*r->serial).c_str() : "-");
    }
}

// The devices to search: each given one once, or every port when none is given. False (with
// the reason printed) when there are no ports or too many.
bool DevicesToSearch(const std::vector<std::string>& given, std::vector<std::string>& devices) {
    devices.clear();
    for (const std::string& device : given) {
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
    return true;
}

// Searches the devices all at once, one thread each, reporting to `progress` when given.
std::vector<SearchedDevice> SearchDevices(const std::vector<std::string>& devices,
                                          const std::vector<uint32_t>& rates, SearchProgress* progress) {
    // Each thread writes its own slot only; joining them publishes the results.
    std::vector<SearchedDevice> searched(devices.size());
    std::vector<std::thread> searches;
    searches.reserve(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        searched[i].device = devices[i];
        searches.emplace_back([&, i] {
            searched[i].receiver = SearchDevice(devices[i], rates, progress);
            if (progress != nullptr) {
                progress->Finished(searched[i].receiver.has_value());
            }
        });
    }
    if (progress != nullptr) {
        progress->Watch(stdout);
    }
    for (std::thread& search : searches) {
        search.join();
    }
    return searched;
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
    if (!DevicesToSearch(given, devices)) {
        return false;
    }
    found.clear();
    for (SearchedDevice& searched : SearchDevices(devices, rates, nullptr)) {
        if (searched.receiver) {
            found.push_back(std::move(*searched.receiver));
        }
    }
    return true;
}

int RunDetectAll(const CliArgs& parsed, const std::vector<uint32_t>& rates) {
    std::vector<std::string> devices;
    if (!DevicesToSearch(GivenDevices(parsed), devices)) {
        return kExitFailed;
    }
    std::optional<SearchProgress> progress;
    if (StdoutIsTerminal() && EnableTerminalRedraw()) {
        progress.emplace(devices.size());
    }
    const std::vector<SearchedDevice> searched =
        SearchDevices(devices, rates, progress ? &*progress : nullptr);
    PrintSearched(searched, parsed.Has("--json"));
    const bool anyFound = std::any_of(searched.begin(), searched.end(),
                                      [](const SearchedDevice& s) { return s.receiver.has_value(); });
    if (!anyFound) {
        std::fprintf(stderr, "Failed to find unit.\n");
        return kExitFailed;
    }
    return kExitOk;
}
