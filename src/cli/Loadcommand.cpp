// lctrovi load: the programming sequence with the loading window's status texts as lines,
// and lctrovi load --check: the image read and checked without a receiver.
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Loadhost.h"
#include "cli/Loadstatus.h"
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
    "The whole file is read and checked first: a file the loader refuses is reported as\n"
    "--check reports it, and the receiver hears nothing. The port must run at 19200 baud.\n"
    "When told, cycle the receiver's power. Exit status 0 only when the receiver came back\n"
    "with its new version.\n"
    "Ctrl-C (or SIGTERM) cancels the load and exits with status 130. Before the receiver's\n"
    "bootloader has answered, that puts the port and the receiver's settings back. After, the\n"
    "receiver stays in its bootloader (it has no way back to its software) and the tool says\n"
    "so: cycle its power, or load again. While the receiver programs itself, which nothing\n"
    "stops, the first Ctrl-C only warns; a second one stops waiting.\n"
    "With --check, read and check the file only: address range, block count, and every fault\n"
    "that stops a load; exit status 1 for a file the loader refuses.\n"
    "With several devices (--device A --device B, or --device A,B), load them all at once: a\n"
    "line per receiver with its step and progress, then a table of device, version before and\n"
    "after, time and result. With --all, load every receiver that detect --all finds (among the\n"
    "devices given, if any). The file is read and checked before any receiver is touched. Exit\n"
    "status 0 only when every receiver came back with its new version; Ctrl-C cancels them all\n"
    "as it cancels one, each receiver's result saying where it was left.\n"
    "\n" LCT_PORT_OPTIONS_HELP
    "  --check        check the file without touching a receiver\n"
    "  --all          load every receiver found on the ports (or the devices given)\n"
    "  --json         load as a batch (of one, too) and print the table as JSON\n"
    "  --help         show this help and exit\n";

constexpr int kProgressWidth = 40;
constexpr int kPlainProgressSteps = 10;  // lines per load when the output is no terminal
constexpr int kTickPauseMs = 1;          // the loading window's timer interval
constexpr int kExitCancelled = 130;      // 128 + SIGINT, as a shell reports an interrupted command

// Set by SIGINT or SIGTERM; the sequence asks for it at every wait and cancels.
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

// The loading window's part, for a terminal or a log: each status a line; on a terminal the
// progress bar and the countdowns are redrawn in place, in a log progress takes a line at every
// tenth and a countdown one every ten seconds or so.
class TerminalLoaderHost final : public CliLoaderHost {
  public:
    TerminalLoaderHost(Line& port, std::string device, uint32_t baud, uint32_t nmeaMask)
        : CliLoaderHost(port, std::move(device), baud, nmeaMask),
          terminal_(StdoutIsTerminal()),
          lines_(CurrentClock()) {}

    void ShowStatus(const std::string& text) override {
        if (text == lastStatus_) {
            return;
        }
        lastStatus_ = text;
        const std::string_view stem = loadtext::CountdownStem(text);
        if (terminal_ && !stem.empty()) {
            DrawInPlace(stem, text);
            return;
        }
        if (!terminal_ && !lines_.WorthALine(text)) {
            return;
        }
        EndInPlaceLine();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
    void ShowProgress(int32_t handled, int32_t estimate) override;
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour /*colour*/) override {
        EndInPlaceLine();
        std::printf("%s %s %s\n", lines[0].c_str(), lines[1].c_str(), lines[2].c_str());
        std::fflush(stdout);
    }
    // Ctrl-C or SIGTERM: the sequence asks at every wait and ends with "Cancelled".
    bool StopRequested() override { return cancelRequested != 0; }
    // The first Ctrl-C while the receiver programs itself only warns.
    bool KeepWaitingWhileProgramming() override {
        cancelRequested = 0;
        ShowStatus(std::string(loadtext::kProgrammingCannotStop) + " Press Ctrl-C again to stop waiting.");
        return true;
    }
    void EndSequence() override {
        EndInPlaceLine();
        CliLoaderHost::EndSequence();
    }

    const std::string& LastStatus() const { return lastStatus_; }

  private:
    static constexpr std::string_view kBar = "progress bar";

    // Redraws the line of this kind (a countdown's stem, or the bar) over itself; a line of
    // another kind is left standing.
    void DrawInPlace(std::string_view kind, const std::string& text) {
        if (kind != inPlaceKind_) {
            EndInPlaceLine();
        }
        const int width = static_cast<int>(std::max(text.size(), inPlaceWidth_));
        std::printf("\r%-*s", width, text.c_str());
        std::fflush(stdout);
        inPlaceKind_ = kind;
        inPlaceWidth_ = text.size();
    }
    void EndInPlaceLine() {
        if (!inPlaceKind_.empty()) {
            std::printf("\n");
            inPlaceKind_ = {};
            inPlaceWidth_ = 0;
        }
    }

    bool terminal_;
    CountdownLines lines_;
    std::string_view inPlaceKind_;  // of the line drawn in place, not yet ended; empty: none
    size_t inPlaceWidth_ = 0;
    int lastTenth_ = -1;
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
        std::string bar(kProgressWidth, ' ');
        std::fill_n(bar.begin(), filled, '#');
        std::string text = "[";  // appended, not prepended: GCC 12 warns wrongly about the latter
        text.append(bar).append("] ").append(std::to_string(done)).append("/").append(std::to_string(whole));
        DrawInPlace(kBar, text);
        return;
    }
    const int tenth = static_cast<int>(int64_t{done} * kPlainProgressSteps / whole);
    if (tenth == lastTenth_) {
        return;
    }
    lastTenth_ = tenth;
    std::printf("Blocks sent: %d of %d\n", done, whole);
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

// The image, opened "rb" and read and checked whole, at its start again; nothing (with the
// reason printed as --check prints it) when it cannot be opened or the loader would refuse it.
std::FILE* OpenCheckedImage(const std::string& name) {
    std::FILE* image = std::fopen(name.c_str(), "rb");
    if (image == nullptr) {
        std::fprintf(stderr, "Error opening file %s\n", name.c_str());
        return nullptr;
    }
    SrecFileLines lines(image);
    if (!ReportImageScan(srec_scan(lines), name)) {
        std::fclose(image);
        return nullptr;
    }
    std::rewind(image);
    return image;
}

int LoadImage(const Endpoint& endpoint, const std::string& name) {
    // The file first: a file the loader refuses must not leave the receiver in its bootloader.
    std::FILE* image = OpenCheckedImage(name);
    if (image == nullptr) {
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
    if (sequence.Cancelled()) {
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
