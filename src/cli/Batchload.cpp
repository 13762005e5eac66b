// lctrovi load FILE with several devices (or --all): the same image into every receiver at
// once. Each receiver has a thread, a port, a host and a programming sequence of its own; they
// share the image text, read and checked once before any receiver is touched, which they only
// read. What they show goes to one board (the tool's only lock), drawn by the main thread.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "cli/Batch.h"
#include "cli/Console.h"
#include "cli/Loadhost.h"
#include "cli/Loadstatus.h"
#include "cli/Receiverquery.h"
#include "cli/Session.h"
#include "config/Json.h"
#include "link/Portsearch.h"

namespace {
constexpr int kExitCancelled = 130;         // 128 + SIGINT, as a shell reports an interrupted command
constexpr long kMaxImageBytes = 64L << 20;  // far above any receiver's image; bounds the one copy
constexpr int64_t kVersionWaitMs = 3000;
constexpr int kTickPauseMs = 1;          // the loading window's timer interval
constexpr int64_t kRedrawMs = 200;       // a terminal is redrawn at most this often
constexpr int kPlainProgressSteps = 10;  // progress lines per receiver when not on a terminal
constexpr int kBarWidth = 20;
constexpr int kStatusWidth = 40;

// Counts SIGINT and SIGTERM; every receiver's sequence reads it at each wait. A receiver that
// programs itself lets the first press pass with a warning, so each receiver keeps the count
// it has let pass. Lock-free, so a signal handler may change it.
std::atomic<int> stopPresses{0};
static_assert(std::atomic<int>::is_always_lock_free);
void OnStopSignal(int /*signal*/) {
    stopPresses.fetch_add(1);
}

class StopSignals {
  public:
    StopSignals()
        : previousInt_(std::signal(SIGINT, OnStopSignal)), previousTerm_(std::signal(SIGTERM, OnStopSignal)) {
        stopPresses.store(0);
    }
    ~StopSignals() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    void (*previousInt_)(int);
    void (*previousTerm_)(int);
};

enum class Outcome { kRunning, kOk, kFailed, kCancelled };

struct Target {
    std::string device;
    uint32_t baud = LoadSequence::kBootBaud;
};

// One receiver's line on the board and in the summary.
struct Row {
    std::string device;
    std::string status = "Opening";
    int32_t done = 0;
    int32_t whole = 0;
    int lastTenth = -1;
    std::string before = "-";
    std::string after = "-";
    Outcome outcome = Outcome::kRunning;
    std::string reason;
    int64_t startedMs = 0;
    int64_t endedMs = 0;

    double Seconds() const { return static_cast<double>(endedMs - startedMs) / 1000.0; }
    std::string Result() const {
        switch (outcome) {
            case Outcome::kOk:
                return "OK";
            case Outcome::kCancelled:  // the reason says where the receiver was left, if it matters
                return reason.empty() ? "CANCELLED" : "CANCELLED: " + reason;
            case Outcome::kFailed:
                return "FAILED: " + reason;
            default:
                return "running";
        }
    }
};

// Every receiver's state. Workers change their own row; the main thread draws. In line mode
// (not a terminal) each change is printed as it happens, one line, by the worker that made it.
class Board {
  public:
    Board(const std::vector<Target>& targets, std::FILE* out, bool inPlace)
        : out_(out), inPlace_(inPlace), running_(targets.size()) {
        const int64_t now = CurrentClock().MonotonicMs();
        for (const Target& target : targets) {
            Row row;
            row.device = target.device;
            row.startedMs = now;
            rows_.push_back(row);
        }
    }

    // The row's status; in line mode also a line, unless told it is not worth one.
    void Show(size_t index, const std::string& text, bool worthALine = true) {
        Change(
            [&](Row& row) {
                row.status = text;
                if (worthALine) {
                    PrintLine(row, text);
                }
            },
            index);
    }
    void Progress(size_t index, int32_t done, int32_t whole) {
        Change(
            [&](Row& row) {
                row.done = done;
                row.whole = whole;
                const int tenth = static_cast<int>(int64_t{done} * kPlainProgressSteps / std::max(whole, 1));
                if (tenth != row.lastTenth) {
                    row.lastTenth = tenth;
                    PrintLine(row, "Blocks sent: " + std::to_string(done) + " of " + std::to_string(whole));
                }
            },
            index);
    }
    void SetBefore(size_t index, const std::string& version) {
        Change([&](Row& row) { row.before = version; }, index);
    }
    void Finish(size_t index, Outcome outcome, const std::string& reason, const std::string& after) {
        Change(
            [&](Row& row) {
                row.outcome = outcome;
                row.reason = reason;
                row.after = after;
                row.endedMs = CurrentClock().MonotonicMs();
                --running_;
                PrintLine(row, row.Result());
            },
            index);
    }

    // Draws until every receiver has finished; wakes at a change or every redraw period.
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        uint64_t drawn = ~uint64_t{0};
        while (true) {
            if (inPlace_ && drawn != changes_) {
                Redraw();
                drawn = changes_;
            }
            if (running_ == 0) {
                return;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(kRedrawMs));
        }
    }

    std::vector<Row> Rows() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return rows_;
    }

  private:
    template <class Edit>
    void Change(Edit&& edit, size_t index) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            edit(rows_[index]);
            ++changes_;
        }
        changed_.notify_one();
    }

    void PrintLine(const Row& row, const std::string& text) {
        if (!inPlace_) {
            std::fprintf(out_, "%s: %s\n", row.device.c_str(), text.c_str());
            std::fflush(out_);
        }
    }

    // Moves up over the rows drawn before and draws them all again, each on a cleared line and
    // cut to the terminal's width, so that none wraps.
    void Redraw() {
        if (drawnRows_ > 0) {
            std::fprintf(out_, "\x1b[%zuA", drawnRows_);
        }
        size_t width = 0;
        for (const Row& row : rows_) {
            width = std::max(width, row.device.size());
        }
        for (const Row& row : rows_) {
            std::string line = row.device;
            line.resize(std::max(width, line.size()), ' ');
            line += "  " + RowText(row);
            std::fprintf(out_, "\r\x1b[2K%s\n", FitToTerminal(line).c_str());
        }
        drawnRows_ = rows_.size();
        std::fflush(out_);
    }

    static std::string RowText(const Row& row) {
        if (row.outcome != Outcome::kRunning) {
            return row.Result();
        }
        std::string text = row.status.substr(0, kStatusWidth);
        text.resize(kStatusWidth, ' ');
        if (row.whole > 0) {
            const int filled =
                static_cast<int>(int64_t{std::clamp(row.done, 0, row.whole)} * kBarWidth / row.whole);
            text += " [" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " +
                    std::to_string(row.done) + "/" + std::to_string(row.whole);
        }
        return text;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Row> rows_;
    std::FILE* out_;
    bool inPlace_;
    size_t running_;
    uint64_t changes_ = 0;
    size_t drawnRows_ = 0;
};

// The sequence's texts that tell where it is, as opposed to what went wrong.
bool IsProgressText(const std::string& text) {
    for (const char* prefix :
         {loadtext::kStarted, loadtext::kEstablishing, loadtext::kEstablished, "Reading File",
          loadtext::kSending, loadtext::kRequestCrc, loadtext::kRamCrc, loadtext::kCrcPassed,
          loadtext::kStartProgramming, loadtext::kInProgress, loadtext::kProgrammingDone,
          loadtext::kWaitingVersion, loadtext::kNoCrc, "Cycle Power"}) {
        if (text.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

// "Sending File... (87)" -> "Sending File...": the step without its countdown (or the time
// elapsed, m:ss).
std::string StepName(const std::string& text) {
    const size_t end = text.find_last_not_of("0123456789(): ");
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

// One receiver's part of the loading window: its texts and progress go to its row on the
// board; it remembers the step it was at and the last fault it was shown, for the summary.
class BatchLoaderHost final : public CliLoaderHost {
  public:
    BatchLoaderHost(Line& port, const Target& target, uint32_t nmeaMask, Board& board, size_t index)
        : CliLoaderHost(port, target.device, target.baud, nmeaMask), board_(board), index_(index) {}

    void ShowStatus(const std::string& text) override {
        if (text == lastStatus_) {
            return;
        }
        lastStatus_ = text;
        if (IsProgressText(text)) {
            step_ = StepName(text);
        } else if (text != loadtext::kFailed && text != loadtext::kCancelled) {
            fault_ = text;
        }
        board_.Show(index_, text, lines_.WorthALine(text));
    }
    void ShowProgress(int32_t handled, int32_t estimate) override {
        if (estimate > 0) {
            board_.Progress(index_, handled, estimate);
        }
    }
    void ShowPanel(const std::array<std::string, 3>& lines, PanelColour /*colour*/) override {
        ShowStatus(lines[0] + " " + lines[1] + " " + lines[2]);
    }
    bool StopRequested() override { return stopPresses.load() > pressesLetPass_; }
    // The first Ctrl-C while this receiver programs itself only warns, in its row.
    bool KeepWaitingWhileProgramming() override {
        pressesLetPass_ = stopPresses.load();
        ShowStatus(std::string(loadtext::kProgrammingCannotStop) + " Ctrl-C again stops waiting.");
        return true;
    }
    Clock& Time() override { return clock_; }

    const std::string& LastStatus() const { return lastStatus_; }
    // Why the load failed: its last text, with the fault before it or the step it was at.
    std::string FailureReason() const {
        if (!fault_.empty() && fault_ != lastStatus_) {
            return lastStatus_ + " (" + fault_ + ")";
        }
        return step_.empty() ? lastStatus_ : lastStatus_ + " (at " + step_ + ")";
    }

  private:
    SystemClock clock_;  // each receiver's own: the sequences share nothing but the image
    CountdownLines lines_{clock_};
    Board& board_;
    size_t index_;
    int pressesLetPass_ = 0;
    std::string lastStatus_;
    std::string step_;
    std::string fault_;
};

// One receiver, start to end, on its own thread: its version, the sequence, the new version.
void LoadReceiver(Board& board, size_t index, const Target& target, std::string_view image) {
    AnyLine port;
    port.SetBlocking(true);
    if (!port.Open(target.device, target.baud, 0)) {
        board.Finish(index, Outcome::kFailed, "Error opening device: " + port.LastErrorText(), "-");
        return;
    }
    // The load switches rates: a line that cannot is refused before the receiver hears a byte.
    if (const std::string refusal = LoadSequence::LineRefusal(LoaderPortAdapter<Line>(port));
        !refusal.empty()) {
        board.Finish(index, Outcome::kFailed, refusal, "-");
        return;
    }
    port.Purge();
    board.Show(index, "Reading the version");
    const auto before = AskVersion(port, kVersionWaitMs);
    board.SetBefore(index, before ? before->version : "Not Known");
    if (stopPresses.load() > 0) {  // nothing has been changed in the receiver yet
        board.Finish(index, Outcome::kCancelled, "", "-");
        return;
    }
    BatchLoaderHost host(port, target, before ? before->nmeaMask : 0, board, index);
    LoadSequence sequence(host);
    sequence.Start(image);
    while (sequence.Running()) {
        sequence.Tick();
        host.Time().SleepMs(kTickPauseMs);
    }
    if (sequence.Cancelled()) {
        const std::string& left = host.LastStatus();  // where the receiver was left, if not as it was
        board.Finish(index, Outcome::kCancelled, left == loadtext::kCancelled ? "" : left, "-");
    } else if (host.LastStatus() != loadtext::kReestablished) {
        board.Finish(index, Outcome::kFailed, host.FailureReason(), "-");
    } else if (const auto after = AskVersion(port, kVersionWaitMs)) {
        board.Finish(index, Outcome::kOk, "", after->version);
    } else {
        board.Finish(index, Outcome::kFailed, "the new version could not be read", "-");
    }
}

// The whole file in memory, at most kMaxImageBytes; nothing (with the reason printed) when it
// cannot be read.
std::optional<std::string> ReadImageFile(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "Error opening file %s\n", name.c_str());
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= kMaxImageBytes) {
        text.append(chunk, count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "Error reading file %s\n", name.c_str());
        return std::nullopt;
    }
    if (text.size() > static_cast<size_t>(kMaxImageBytes)) {
        std::fprintf(stderr, "File %s is larger than any receiver image (%ld MiB)\n", name.c_str(),
                     kMaxImageBytes >> 20);
        return std::nullopt;
    }
    return text;
}

// The receivers to load: those given (each at the port rate given), or every one found.
bool ChooseTargets(const CliArgs& parsed, std::vector<Target>& targets) {
    if (parsed.Has("--all")) {
        std::vector<FoundReceiver> found;
        if (!DetectAll(GivenDevices(parsed), {kSearchRates.begin(), kSearchRates.end()}, found)) {
            return false;
        }
        if (found.empty()) {
            std::fprintf(stderr, "Failed to find unit.\n");
            return false;
        }
        for (const FoundReceiver& receiver : found) {
            targets.push_back({receiver.device, receiver.baud});
        }
        return true;
    }
    const auto endpoint = ReadEndpoint(parsed);  // checks --baud
    if (!endpoint) {
        return false;
    }
    std::set<std::string> seen;
    for (const std::string& device : GivenDevices(parsed)) {
        if (!seen.insert(device).second) {
            std::fprintf(stderr, "lctrovi: %s is given twice\n", device.c_str());
            return false;
        }
        targets.push_back({device, endpoint->baud});
    }
    if (targets.empty()) {  // "--device ," names none
        std::fprintf(stderr, "lctrovi: no device given\n");
        return false;
    }
    if (targets.size() > kMaxBatchReceivers) {
        std::fprintf(stderr, "lctrovi: at most %zu receivers at once\n", kMaxBatchReceivers);
        return false;
    }
    return true;
}

const char* OutcomeWord(Outcome outcome) {
    switch (outcome) {
        case Outcome::kOk:
            return "ok";
        case Outcome::kCancelled:
            return "cancelled";
        default:
            return "failed";
    }
}

void PrintSummary(const std::vector<Row>& rows, bool json) {
    if (json) {
        std::printf("[\n");
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            std::printf(
                "{\"device\": %s, \"before\": %s, \"after\": %s, \"result\": \"%s\", \"reason\": %s, "
                "\"seconds\": %.1f}%s\n",
                JsonQuote(r.device).c_str(), JsonQuote(r.before).c_str(), JsonQuote(r.after).c_str(),
                OutcomeWord(r.outcome), JsonQuote(r.reason).c_str(), r.Seconds(),
                i + 1 < rows.size() ? "," : "");
        }
        std::printf("]\n");
        return;
    }
    size_t device = 6;
    size_t version = 6;
    for (const Row& r : rows) {
        device = std::max(device, r.device.size());
        version = std::max({version, r.before.size(), r.after.size()});
    }
    const int d = static_cast<int>(device);
    const int v = static_cast<int>(version);
    std::printf("%-*s  %-*s  %-*s  %7s  %s\n", d, "DEVICE", v, "BEFORE", v, "AFTER", "TIME", "RESULT");
    size_t loaded = 0;
    for (const Row& r : rows) {
        std::printf("%-*s  %-*s  %-*s  %5.1f s  %s\n", d, r.device.c_str(), v, r.before.c_str(), v,
                    r.after.c_str(), r.Seconds(), r.Result().c_str());
        loaded += r.outcome == Outcome::kOk ? 1 : 0;
    }
    std::printf("%zu of %zu receivers loaded.\n", loaded, rows.size());
}
}  // namespace

bool ReportImageScan(const SrecScan& scan, const std::string& name) {
    if (scan.Ok()) {
        return true;
    }
    std::fprintf(stderr, "%s\n%s\n", scan.FaultText(name).c_str(), loadtext::kInputError);
    return false;
}

int RunBatchLoad(const CliArgs& parsed, const std::string& file) {
    // The image first: a file the loader refuses stops the batch before any receiver hears a byte.
    const auto image = ReadImageFile(file);
    if (!image) {
        return kExitFailed;
    }
    SrecTextLines lines(*image);
    if (!ReportImageScan(srec_scan(lines), file)) {
        return kExitFailed;
    }
    const StopSignals signals;
    std::vector<Target> targets;
    if (!ChooseTargets(parsed, targets)) {
        return parsed.Has("--all") ? kExitFailed : kExitUsage;
    }
    const bool json = parsed.Has("--json");
    std::FILE* progress = json ? stderr : stdout;
    Board board(targets, progress, !json && StdoutIsTerminal() && EnableTerminalRedraw());
    std::vector<std::thread> workers;
    workers.reserve(targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        workers.emplace_back([&, i] { LoadReceiver(board, i, targets[i], *image); });
    }
    board.Watch();
    for (std::thread& worker : workers) {
        worker.join();
    }
    const std::vector<Row> rows = board.Rows();
    PrintSummary(rows, json);
    if (std::any_of(rows.begin(), rows.end(),
                    [](const Row& r) { return r.outcome == Outcome::kCancelled; })) {
        return kExitCancelled;
    }
    const bool allLoaded =
        std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.outcome == Outcome::kOk; });
    return allLoaded ? kExitOk : kExitFailed;
}
