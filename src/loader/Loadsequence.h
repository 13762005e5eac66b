#pragma once
// The programming sequence: puts an S-record image into the receiver through its bootloader.
//
// A step machine driven by a timer: each Tick() runs up to five turns; a turn performs the
// action of the current step and may block in bounded waits (serial reads with a short wait,
// status holds that sleep in short steps through the clock seam), so it never spins a core
// and a fake clock runs the whole sequence in milliseconds. A host may run the ticks on a
// thread of its own and ask for a stop from another: every wait asks StopRequested(), so a
// stop ends the sequence at the next wait, not at the end of a turn.
//
// A stop cannot undo what the receiver has done: once its bootloader has answered a probe, the
// receiver stays there until its power is cycled (the bootloader has no command that returns to
// the receiver's software). So a stop says where it leaves the receiver, and a stop while the
// receiver programs itself, which nothing stops, may first be turned into a warning by the host.
//
// The engine knows nothing of windows: it talks to a LoaderHost (the loading dialog, or a
// test) and reads and writes through the host's LoaderPort.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "loader/Srec.h"
#include "loader/X1f.h"
#include "proto/Diagproto.h"

// The serial port as the loader uses it. Read waits at most waitMs for the first byte and
// returns true with nothing when none came; false means the port failed. A port that is no
// longer open, or that fails three operations in a row, is taken as gone.
class LoaderPort {
  public:
    virtual ~LoaderPort() = default;
    virtual bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) = 0;
    virtual bool Write(const uint8_t* buffer, uint32_t count) = 0;
    virtual bool IsOpen() const = 0;
    virtual std::string LastErrorText() const { return {}; }
    // A load switches the line's rate; a line that cannot says why with RateRefusal.
    virtual bool CanChangeRate() const { return true; }
    virtual std::string RateRefusal() const { return {}; }
};

// True for the error codes with which a serial read reports that its wait ended without a
// byte: ETIMEDOUT (POSIX) and ERROR_TIMEOUT (Win32). Such a read is no failure of the port.
inline bool IsReadTimeoutCode(uint32_t code) {
    constexpr uint32_t kWin32ErrorTimeout = 1460;
    return code == static_cast<uint32_t>(ETIMEDOUT) || code == kWin32ErrorTimeout;
}

// Adapts any port class with the serial port's method signatures, by reference. A port that
// reports a wait without a byte as a failed read with a time-out code (as SerialPort does)
// reads as "nothing came" here.
template <class Port>
class LoaderPortAdapter final : public LoaderPort {
  public:
    explicit LoaderPortAdapter(Port& port) : port_(port) {}
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* received, int32_t waitMs) override {
        if (port_.Read(buffer, capacity, received, waitMs)) {
            return true;
        }
        if constexpr (requires { port_.LastErrorCode(); }) {
            if (IsReadTimeoutCode(port_.LastErrorCode())) {
                *received = 0;
                return true;
            }
        }
        return false;
    }
    bool Write(const uint8_t* buffer, uint32_t count) override { return port_.Write(buffer, count); }
    bool IsOpen() const override { return port_.IsOpen(); }
    std::string LastErrorText() const override { return port_.LastErrorText(); }
    bool CanChangeRate() const override {
        if constexpr (requires { port_.CanChangeRate(); }) {
            return port_.CanChangeRate();
        }
        return true;
    }
    std::string RateRefusal() const override {
        if constexpr (requires { port_.RateRefusal(); }) {
            return port_.RateRefusal();
        }
        return {};
    }

  private:
    Port& port_;
};

struct ReceiverVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    std::string suffix;
};

enum class PanelColour { kRed, kBlue };

// What the sequence needs of the loading dialog.
class LoaderHost {
  public:
    virtual ~LoaderHost() = default;
    // The clock this sequence reads and waits by: the program's clock unless the host has one
    // of its own (a batch gives each receiver its own).
    virtual Clock& Time() { return CurrentClock(); }
    // The port to use now; asked afresh for every operation, so a reopen may replace it.
    virtual LoaderPort& Port() = 0;
    // Replaces the one status line with the text, and makes sure it is painted.
    virtual void ShowStatus(const std::string& text) = 0;
    // Keeps the current status for the given seconds of the clock. The default sleeps in short
    // steps through the clock seam and returns early once a stop is requested.
    virtual void HoldStatus(int seconds);
    // Blocks sent so far against the blocks the image spans, for a progress bar (estimate 0:
    // unknown).
    virtual void ShowProgress(int32_t /*handled*/, int32_t /*estimate*/) {}
    // Closes and reopens the port at the rate; on success the link's current rate becomes it.
    // On failure Port().LastErrorText() tells why the open failed.
    virtual bool ReopenPort(uint32_t baud) = 0;
    // The rate the link's port is open at.
    virtual uint32_t CurrentBaud() const = 0;
    // Sends the request for the configuration message (216).
    virtual void RequestVersion() = 0;
    // Stores the version and shows it on the version label.
    virtual void UpdateVersionLabel(const ReceiverVersion& version) = 0;
    // Shows the three warning lines in the colour.
    virtual void ShowPanel(const std::array<std::string, 3>& lines, PanelColour colour) = 0;
    // True once the host knows that the device has vanished (unplugged, port error).
    virtual bool DeviceGone() { return false; }
    // True once the user asked to end the load (Load pressed again, Ctrl-C). Asked at every
    // wait, on the thread that runs the ticks: a request made on another thread must be safe
    // to read there (an atomic flag).
    virtual bool StopRequested() { return false; }
    // Asked at the first stop request while the receiver programs itself. True: the host has
    // warned the user (kProgrammingCannotStop) and forgotten the request, so the load goes on
    // and a further request stops the waiting. False: stop waiting now.
    virtual bool KeepWaitingWhileProgramming() { return false; }
    // Restores port, windows and receiver settings after a sequence (the engine is idle).
    virtual void EndSequence() = 0;
};

// Step values as the dialog's step field holds them.
enum class LoadStep : int {
    kIdle = 0,
    kCheckPort = 1,
    kPing = 2,
    kSetBaud = 3,
    kReadFile = 4,
    kWaiting = 9,
    kReestablished = 11,
    kSendFile = 14,
    kCheckRam = 15,
    kProgram = 16,
    kCheckRange = 17,
    kFailed = 19,
    kAwaitVersion = 20,
};

class LoadSequence {
  public:
    static constexpr uint32_t kBootBaud = 19200;
    static constexpr uint32_t kFastBaud = 57600;
    static constexpr int32_t kPollMs = 50;                    // the longest single blocking read
    static constexpr int64_t kBlockAnswerMs = 10'000;         // a block without any answer this long fails
    static constexpr int64_t kBlockWorkingLimitMs = 120'000;  // nor may X1F_WORKING hold a block longer
    static constexpr uint16_t kBufferSize = 1024;
    static constexpr int kFailuresForLoss = 3;  // port operations failing in a row

    explicit LoadSequence(LoaderHost& host) : host_(host) {}

    // Why the line cannot carry a load (it cannot change its rate), in the line's own words;
    // empty when it can. Hosts ask before the receiver hears a byte.
    static std::string LineRefusal(const LoaderPort& port) {
        return port.CanChangeRate() ? std::string() : port.RateRefusal();
    }
    ~LoadSequence();
    LoadSequence(const LoadSequence&) = delete;
    LoadSequence& operator=(const LoadSequence&) = delete;

    // Starts a download of the image (opened "rb"); the sequence owns and closes the stream.
    void Start(std::FILE* image);
    // Starts a download of an image held in memory, which must outlive the run. Many
    // sequences may read the same text at once: it is only read.
    void Start(std::string_view image);
    // One timer tick: up to five turns. A stop request seen at any wait ends the sequence as
    // Cancel() does.
    void Tick();
    bool Running() const { return step_ != LoadStep::kIdle; }
    // Ends a running sequence at the user's request (between ticks): the host is shown
    // "Cancelled", then where the receiver is left when its bootloader had been reached, and
    // ended. A bootloader switched to the fast rate is first switched back, so that a new load
    // finds it; nothing else is sent.
    void Cancel();
    // The last sequence ended by Cancel() or a stop request.
    bool Cancelled() const { return cancelled_; }

    LoadStep Step() const { return step_; }
    int32_t BlockEstimate() const { return blockEstimate_; }
    int32_t ProgressCount() const { return progressCount_; }
    const X1fPayload& Reply() const { return reply_; }

  private:
    // Where the receiver is, as far as this sequence has taken it.
    enum class Receiver {
        kOwnSoftware,  // no probe answered yet
        kBootloader,   // waiting for commands
        kProgramming,  // X1F_PROGRAM sent, its final answer not yet come
        kProgrammed,   // checked (or unable to check): only a power cycle starts the new software
    };

    bool Turn();  // true: end the tick
    void DoCheckPort();
    void DoPing();
    void DoSetBaud();
    void DoReadFile();
    void DoSendFile();
    void DoCheckRam();
    void DoProgram();
    bool DoCheckRange();
    void DoAwaitVersion();
    void EndWith(const std::string& text);
    void Finish();
    void ReturnBootloaderToBootRate();
    const char* StoppedText() const;

    bool ScanImage();
    bool SendBlock(uint32_t address, uint32_t length);
    void AwaitBlockAnswer();
    bool AwaitCrcReply(LoadStep next);
    void AwaitX1fReply(LoadStep next);
    void OnReply(LoadStep next);
    bool AwaitVersionFrame();
    void AwaitRateSwitch(uint32_t oldBaud);
    void DrainInput();

    void ShowStatusFor(int seconds, const std::string& text);
    void Hold(int seconds);
    void StopIfRequested();
    std::string InProgressText();
    void WriteCommand(uint8_t code, uint32_t value, const uint8_t* data = nullptr, uint16_t length = 0);
    bool ReadPort(uint32_t* received, int32_t waitMs);
    bool Reopen(uint32_t baud);
    void CheckPortLost(bool ok);
    void ReportPortLost(std::string reason);
    // Feeds a read to the parser; calls onFrame for each complete frame; stops early when it
    // returns false.
    template <class OnFrame>
    void FeedParser(uint32_t count, OnFrame&& onFrame);
    void WaitFor(int seconds, LoadStep next);
    void CloseImage();
    bool HasImage() const { return image_ != nullptr || imageInMemory_; }
    SrecLineSource& ImageLines();
    void RewindImage();
    const char* TimeoutText() const;

    LoaderHost& host_;
    LoadStep step_ = LoadStep::kIdle;
    LoadStep lastStep_ = LoadStep::kIdle;
    std::FILE* image_ = nullptr;
    std::string_view imageText_;  // or the image in memory
    bool imageInMemory_ = false;
    SrecFileLines fileLines_{nullptr};
    SrecTextLines textLines_{std::string_view{}};
    SrecBlockReader blockReader_;
    X1fPayload reply_;
    uint32_t lowest_ = 0xFFFFFFFFu;
    uint32_t highest_ = 0;
    int32_t blockEstimate_ = 0;
    int32_t blocksSpanned_ = 0;  // the progress bar's whole
    int32_t blocksSent_ = 0;     // the progress bar's part: blocks sent and answered
    int32_t progressCount_ = 0;  // block reader calls, empty blocks too: the countdown
    int64_t deadline_ = 0;
    bool portLost_ = false;
    bool imageChecked_ = false;  // the receiver passed the check of the programmed range
    Receiver receiver_ = Receiver::kOwnSoftware;
    bool bootloaderFast_ = false;  // the bootloader was asked for the fast rate
    bool stopping_ = false;        // a stop is being carried out: no further stop requests
    bool cancelled_ = false;
    bool warnedProgramming_ = false;  // the host was asked once to keep waiting
    int64_t commandSentMs_ = 0;       // when the latest command was written: X1F_WORKING's elapsed time
    int failures_ = 0;                // port operations failed in a row
    DiagFrameState parser_;
    uint8_t receive_[kBufferSize] = {};
    uint8_t frame_[kBufferSize] = {};
    uint8_t block_[kSrecBlockSize] = {};
    uint8_t command_[x1f::kFrameLength] = {};
};

// The status texts of the sequence, for hosts and tests that look for them.
namespace loadtext {
inline constexpr const char* kPortError = "PORT ERROR! OPEN PORT AT 19200 BPS FIRST.";
inline constexpr const char* kStarted = "Started";
inline constexpr const char* kEstablishing = "Establishing Communication... ";
inline constexpr const char* kEstablished = "Established Communication with BootLoader.";
inline constexpr const char* kReading = "Reading File... (";
inline constexpr const char* kReadingDone = "Reading File Completed.";
inline constexpr const char* kInputError = "Error in input file.";
inline constexpr const char* kSending = "Sending File...";
inline constexpr const char* kRequestCrc = "Request CRC check.";
inline constexpr const char* kNoCrc = "Target does not support CRC.";
inline constexpr const char* kRamCrc = "Returned CRC of download image is ";
inline constexpr const char* kCrcFailed = "CRC check failed.  Please retry.";
inline constexpr const char* kCrcPassed = "CRC check passed.";
inline constexpr const char* kStartProgramming = "Sending START PROGRAMMING Command...";
inline constexpr const char* kProgrammingDone = "Programming Done.  Cycle Power on Receiver.";
inline constexpr const char* kWaitingVersion = "Waiting for New Version Number... ";
inline constexpr const char* kReestablished = "Communication Re-established. Ver # Rcvd.";
inline constexpr const char* kFailed = "Download Failed.";
inline constexpr const char* kCancelled = "Cancelled";
inline constexpr const char* kInProgress = "In Progress. (Please wait up to 5 minutes.)";
inline constexpr const char* kUnrecognized = "Unrecognized cmd.";
inline constexpr const char* kUnexpected = "Unexpected reply received.";
inline constexpr const char* kTimeout = "Timeout";
inline constexpr const char* kTimeoutSetup = "Timeout sending setup command.";
inline constexpr const char* kTimeoutData = "Timeout while sending program data.";
inline constexpr const char* kTimeoutProgram = "Timeout sending program command.";
inline constexpr const char* kTimeoutVersion = "Timeout getting the new software version.";
inline constexpr const char* kPortLost = "Serial port lost: ";
// Where a stop leaves a receiver whose bootloader had answered.
inline constexpr const char* kInBootloader =
    "The receiver is waiting in its bootloader: cycle its power, or load again.";
inline constexpr const char* kProgrammingCannotStop =
    "The receiver is programming itself and goes on whatever happens here: leave its power on.";
inline constexpr const char* kStoppedWhileProgramming =
    "Stopped waiting. The receiver goes on programming itself: leave its power on for 5 minutes, "
    "then cycle its power.";
inline constexpr const char* kStoppedWhenProgrammed =
    "The new software is programmed: cycle the receiver's power to start it.";
inline constexpr const char* kLostAfterCheck =
    "The new software was programmed and checked; the line was lost before its version came back. "
    "Reconnect and check the version.";

// The texts that count (down, or the time elapsed) while one step lasts, each a stem followed by
// a number that changes: the stem of such a text, or empty for any other.
inline std::string_view CountdownStem(std::string_view text) {
    for (const std::string_view stem : {kEstablishing, kWaitingVersion, kInProgress}) {
        if (text.substr(0, stem.size()) == stem) {
            return stem;
        }
    }
    return {};
}
}  // namespace loadtext
