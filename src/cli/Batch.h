#pragma once
// Many receivers at once: lctrovi detect --all searches every port together, and a load with
// several devices (or --all) programs them all in parallel, one thread, one port and one
// programming sequence each, sharing only the image, read and checked once.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "loader/Srec.h"

// The most receivers one batch takes: a thread, a port and a sequence each.
constexpr size_t kMaxBatchReceivers = 64;

// A receiver that the search found, with what it told about itself.
struct FoundReceiver {
    std::string device;
    uint32_t baud = 0;
    std::string version;  // "Not Known" when its software did not say
    std::optional<int32_t> serial;
};

// The devices of every --device, each of which may be a list "A,B,C"; empty names left out.
std::vector<std::string> GivenDevices(const CliArgs& parsed);

// Searches the devices (every port when none is given) at the rates, all at once, one thread
// per device; the found ones in the order given. Devices that cannot be opened are reported
// on standard error. False (with the reason printed) when there are no ports or too many.
bool DetectAll(const std::vector<std::string>& given, const std::vector<uint32_t>& rates,
               std::vector<FoundReceiver>& found);

// lctrovi detect --all: the table of the receivers found (or JSON). Exit status 1 when none.
int RunDetectAll(const CliArgs& parsed, const std::vector<uint32_t>& rates);

// lctrovi load FILE with several devices, or --all: exit status 0 only when every receiver
// came back with its new version; 130 after Ctrl-C.
int RunBatchLoad(const CliArgs& parsed, const std::string& file);

// Says what is wrong with a scanned image on standard error, as load --check does; true for
// a sound one. Shared with load --check.
bool ReportImageScan(const SrecScan& scan, const std::string& name);
