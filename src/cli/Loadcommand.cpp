// lctrovi load: the programming sequence with the loading window's status texts as lines,
// and lctrovi load --check: the image read and checked without a receiver.
#include <array>
#include <csignal>
#include <cstdio>
#include <string>

#include "base/Clock.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Loadhost.h"
#include "cli/Session.h"
#include "config/Configmsg.h"
#include "loader/Loadsequence.h"
#include "loader/Portreopen.h"
#include "loader/Srec.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {
const char* const kLoadHelp =
    "Usage: lctrovi load --device D [--baud B] FILE\n"
    "       lctrovi load --device D --device E ... [--baud B] [--json] FILE\n"
    "       lctrovi load --all [--device D,E,...] [--json] FILE\n"
    "       lctrovi load --check FILE\n"
    "Load receiver software from an S-record file through the receiver's bootloader, showing\n"
    "the loading window's status texts, and a progress bar when the output is a terminal.\n"
    "The port must run at 19200 baud. When told, cycle the receiver's power. Exit status 0\n"
    "only when the receiver came back with its new version. Ctrl-C (or SIGTERM) cancels the\n"
    "load, puts the port and the receiver's settings back, and exits with status 130.\n"
    "With --check, read and check the file only: address range, block count, and every fault\n"
    "that stops a load; exit status 1 for a file the loader refuses.\n"
    "With several devices (--device A --device B, or --device A,B), load them all at once: a\n"
    "line per receiver with its step and progress, then a table of device, version before and\n"
    "after, time and result. With --all, load every receiver that detect --all finds (among the\n"
    "devices given, if any). The file is read and checked before any receiver is touched. Exit\n"
    "status 0 only when every receiver came back with its new version; Ctrl-C cancels them all.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --check        check the file without touching a receiver\n"
    "  --all          load every receiver found on the ports (or the devices given)\n"
    "  --json         load as a batch (of one, too) and print the table as JSON\n"
    "  --help         show this help and exit\n";

constexpr int kProgressWidth = 40;
constexpr int kPlainProgressSteps = 10;  // lines per load when the output is no terminal
constexpr int kTickPauseMs = 1;          // the loading window's timer interval
constexpr int kExitCancelled = 130;      // 128 + SIGINT, as a shell reports an interrupted command

// Set by SIGINT or SIGTERM; the sequence asks for it at every wait and cancels, which puts
// the port and the receiver's settings back.
volatile std::sig_atomic_t cancelRequested = 0;
void OnCancelSignal(int /*signal*/) {
    cancelRequested = 1;
}

// SIGINT and SIGTERM request a cancel while this lives; the previous actions come back after.
class CancelSignals {
  public:
    CancelSignals()
        : previousInt_(std::signal(SIGINT, OnCancelSignal)),
          previousTerm_(std::signal(SIGTERM, OnCancelSignal)) {
        cancelRequested = 0;
    }
    ~CancelSignals() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;
    bool Requested() const { return cancelRequested != 0; }

  private:
    void (*previousInt_)(int);
    void (*previousTerm_)(int);
};

// The loading window's part, for a terminal or a log: each status a line, progress as a bar
// redrawn in place on a terminal, or a line at every tenth otherwise.
class TerminalLoaderHost final : public CliLoaderHost {
  public:
    TerminalLoaderHost(Line& port, std::string device, uint32_t baud, uint32_t nmeaMask)
        : CliLoaderHost(port, std::move(device), baud, nmeaMask), terminal_(StdoutIsTerminal()) {}

    void ShowStatus(const std::string& text) override {
        if (text == lastStatus_) {
            return;
        }
        EndProgressLine();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        lastStatus_ = text;
    }
    void ShowProgress(int32_t handled, int32_t estimate) override;
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour /*colour*/) override {
        EndProgressLine();
        std::printf("%s %s %s\n", lines[0].c_str(), lines[1].c_str(), lines[2].c_str());
        std::fflush(stdout);
    }
    // Ctrl-C or SIGTERM: the sequence asks at every wait and ends with "Cancelled".
    bool StopRequested() override { return cancelRequested != 0; }
    void EndSequence() override {
        EndProgressLine();
        CliLoaderHost::EndSequence();
    }

    const std::string& LastStatus() const { return lastStatus_; }

  private:
    void EndProgressLine() {
        if (progressShown_) {
            std::printf("\n");
            progressShown_ = false;
        }
    }

    bool terminal_;
    bool progressShown_ = false;
    int lastStep_ = -1;
    std::string lastStatus_;
};

void TerminalLoaderHost::ShowProgress(int32_t handled, int32_t estimate) {
    if (estimate <= 0) {
        return;  // nothing known to measure against yet
    }
    const int32_t whole = std::max(estimate, 1);
    const int32_t done = std::clamp(handled, 0, whole);
    if (terminal_) {
        const int filled = static_cast<int>(int64_t{done} * kProgressWidth / whole);
        std::printf("\r[%s%s] %d/%d", std::string(static_cast<size_t>(filled), '#').c_str(),
                    std::string(static_cast<size_t>(kProgressWidth - filled), ' ').c_str(), done, whole);
        progressShown_ = true;
    } else {
        const int step = static_cast<int>(int64_t{done} * kPlainProgressSteps / whole);
        if (step == lastStep_) {
            return;
        }
        lastStep_ = step;
        std::printf("Blocks sent: %d of %d\n", done, whole);
    }
    std::fflush(stdout);
}

int CheckImage(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "Error opening file %s\n", name.c_str());
        return kExitFailed;
    }
    SrecFileLines lines(file);
    const SrecScan scan = srec_scan(lines);
    std::fclose(file);
    std::printf("Records: %ld\n", scan.records);
    if (!ReportImageScan(scan, name)) {
        return kExitFailed;
    }
    std::printf("Address range: 0x%08X-0x%08X\nBlocks: %d\n", scan.lowest, scan.highest,
                scan.BlocksSpanned());
    return kExitOk;
}

// The receiver's version, printed, and its NMEA mask.
std::optional<uint32_t> ReadVersion(Session& session) {
    const auto payload = session.Request(msgid::kConfig);
    if (!payload) {
        return std::nullopt;
    }
    const auto version = DecodeVersion(payload->data(), payload->size());
    const auto mask = DecodeNmeaMask(payload->data(), payload->size());
    if (!version || !mask) {
        std::fprintf(stderr, "The receiver's configuration message is too short.\n");
        return std::nullopt;
    }
    std::printf("Receiver version: %s\n", version->Text().c_str());
    return mask;
}

// The running software's version, shown for information, and its NMEA mask to put back
// afterwards. Software that does not answer (broken, or answering with id 255) is what most
// needs a new image: the load goes on, and the mask put back is then 0, as the loading window
// does.
uint32_t ShowRunningVersion(Session& session) {
    const auto payload = session.Ask(msgid::kConfig);
    const auto version = payload ? DecodeVersion(payload->data(), payload->size()) : std::nullopt;
    const auto mask = payload ? DecodeNmeaMask(payload->data(), payload->size()) : std::nullopt;
    if (!version || !mask) {
        std::printf("Receiver version: Not Known\n");
        return 0;
    }
    std::printf("Receiver version: %s\n", version->Text().c_str());
    return *mask;
}

int LoadImage(const Endpoint& endpoint, const std::string& name) {
    std::FILE* image = std::fopen(name.c_str(), "rb");
    if (image == nullptr) {
        std::fprintf(stderr, "Error opening file %s\n", name.c_str());
        return kExitFailed;
    }
    Session session;
    if (!session.Open(endpoint)) {
        std::fclose(image);
        return kExitFailed;
    }
    // The load switches rates: a line that cannot is refused before the receiver hears a byte.
    if (const std::string refusal = LoadSequence::LineRefusal(LoaderPortAdapter<Line>(session.Port()));
        !refusal.empty()) {
        std::fclose(image);
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return kExitFailed;
    }
    const CancelSignals signals;
    const uint32_t mask = ShowRunningVersion(session);
    if (session.Lost()) {
        std::fclose(image);
        return kExitFailed;
    }
    if (signals.Requested()) {  // nothing has been changed in the receiver yet
        std::fclose(image);
        std::printf("Download cancelled.\n");
        return kExitCancelled;
    }
    TerminalLoaderHost host(session.Port(), endpoint.device, endpoint.baud, mask);
    LoadSequence sequence(host);
    sequence.Start(image);  // owns the stream from here
    while (sequence.Running()) {
        sequence.Tick();  // a signal is seen at the tick's first wait at the latest
        CurrentClock().SleepMs(kTickPauseMs);
    }
    if (host.LastStatus() == loadtext::kCancelled) {
        std::printf("Download cancelled.\n");
        return kExitCancelled;
    }
    if (host.LastStatus() != loadtext::kReestablished) {
        return kExitFailed;
    }
    return ReadVersion(session) ? kExitOk : kExitFailed;
}
}  // namespace

int RunLoad(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud"}, {"--check", "--all", "--json"}, kLoadHelp, parsed,
                         status)) {
        return status;
    }
    if (parsed.words.size() != 1) {
        std::fprintf(stderr, "lctrovi: load needs one FILE\n%s", kLoadHelp);
        return kExitUsage;
    }
    if (parsed.Has("--check")) {
        return CheckImage(parsed.words.front());
    }
    if (parsed.Has("--all") || parsed.Has("--json") || GivenDevices(parsed).size() > 1) {
        return RunBatchLoad(parsed, parsed.words.front());
    }
    const auto endpoint = ReadEndpoint(parsed);
    if (!endpoint) {
        return kExitUsage;
    }
    return LoadImage(*endpoint, parsed.words.front());
}
