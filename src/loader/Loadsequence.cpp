#include "loader/Loadsequence.h"

#include "base/Clock.h"
#include "loader/Portreopen.h"
#include "proto/Bytes.h"
#include "proto/Messages.h"

namespace {

constexpr int kTurnsPerTick = 5;
constexpr int kBlocksPerTurn = 100;
constexpr int kPingAttempts = 60;
constexpr int kSetBaudAttempts = 3;
constexpr int kSetupAttempts = 10;
constexpr int kCrcWaits = 6;
constexpr int kVersionAttempts = 60;
constexpr int32_t kDrainWaitMs = 100;
// Draining ends even on a line that never falls quiet.
constexpr int64_t kDrainLimitMs = 3000;
// Allowed beyond the wire time of the bootloader's answer to X1F_SETBAUD for it to start
// answering and then to switch its rate.
constexpr int64_t kRateSwitchMarginMs = 100;
constexpr int64_t kHoldStepMs = 50;
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kSecondsPerMinute = 60;

// Thrown at a wait once the host asks to stop, and caught in Tick(): it never leaves the
// engine. Unwinding ends every loop of the turn at once, so nothing that followed the wait (a
// command, a status, a reopen) happens after a stop.
struct StopRequest {};

}  // namespace

template <class OnFrame>
void LoadSequence::FeedParser(uint32_t count, OnFrame&& onFrame) {
    for (uint32_t i = 0; i < count; ++i) {
        if (diag_frame_step(receive_[i], parser_, frame_, kBufferSize) == kDiagFrame) {
            onFrame();
        }
    }
}

void LoaderHost::HoldStatus(int seconds) {
    Clock& clock = Time();
    const int64_t until = clock.NowSeconds() + seconds;
    while (clock.NowSeconds() < until && !StopRequested()) {
        clock.SleepMs(kHoldStepMs);
    }
}

LoadSequence::~LoadSequence() {
    CloseImage();
}

void LoadSequence::Start(std::FILE* image) {
    CloseImage();
    image_ = image;
    fileLines_ = SrecFileLines(image);
    blockReader_.Arm();
    portLost_ = false;
    imageChecked_ = false;
    receiver_ = Receiver::kOwnSoftware;
    bootloaderFast_ = false;
    stopping_ = false;
    cancelled_ = false;
    warnedProgramming_ = false;
    failures_ = 0;
    blockEstimate_ = 0;
    blocksSpanned_ = 0;
    blocksSent_ = 0;
    progressCount_ = 0;
    step_ = LoadStep::kCheckPort;
    host_.ShowProgress(0, 0);
}

void LoadSequence::Start(std::string_view image) {
    Start(static_cast<std::FILE*>(nullptr));
    imageText_ = image;
    imageInMemory_ = true;
    textLines_ = SrecTextLines(imageText_);
}

SrecLineSource& LoadSequence::ImageLines() {
    return image_ != nullptr ? static_cast<SrecLineSource&>(fileLines_) : textLines_;
}

void LoadSequence::RewindImage() {
    if (image_ != nullptr) {
        std::rewind(image_);
    } else {
        textLines_ = SrecTextLines(imageText_);
    }
}

void LoadSequence::Tick() {
    try {
        for (int turn = 0; turn < kTurnsPerTick && step_ != LoadStep::kIdle; ++turn) {
            StopIfRequested();
            if (Turn()) {
                break;
            }
        }
    } catch (const StopRequest&) {
        Cancel();
    }
}

void LoadSequence::Cancel() {
    if (!Running()) {
        return;
    }
    stopping_ = true;
    cancelled_ = true;
    host_.ShowStatus(loadtext::kCancelled);
    if (receiver_ == Receiver::kBootloader) {
        ReturnBootloaderToBootRate();
    }
    if (const char* where = StoppedText()) {
        host_.ShowStatus(where);
    }
    Finish();
}

// A new load probes at the normal rate, which a bootloader switched to the fast rate does not
// hear: it is switched back (answered or not: a drain, one command and its answer's wire time).
// The host's end of the sequence then reopens the port at the normal rate.
void LoadSequence::ReturnBootloaderToBootRate() {
    if (!bootloaderFast_ || portLost_) {
        return;
    }
    if (host_.CurrentBaud() != kFastBaud && !Reopen(kFastBaud)) {
        return;
    }
    DrainInput();
    WriteCommand(X1F_SETBAUD, kBootBaud);
    AwaitRateSwitch(kFastBaud);
    bootloaderFast_ = false;
}

// Where a stop leaves the receiver; none while its own software still runs (the host puts its
// settings back).
const char* LoadSequence::StoppedText() const {
    switch (receiver_) {
        case Receiver::kBootloader:
            return loadtext::kInBootloader;
        case Receiver::kProgramming:
            return loadtext::kStoppedWhileProgramming;
        case Receiver::kProgrammed:
            return loadtext::kStoppedWhenProgrammed;
        default:
            return nullptr;
    }
}

bool LoadSequence::Turn() {
    switch (step_) {
        case LoadStep::kIdle:
            return true;
        case LoadStep::kWaiting:
            EndWith(TimeoutText());
            return true;
        case LoadStep::kFailed:
            // A line lost once the image was checked in place leaves the new software in.
            EndWith(imageChecked_ && portLost_ ? loadtext::kLostAfterCheck : loadtext::kFailed);
            return true;
        case LoadStep::kReestablished:
            lastStep_ = step_;
            EndWith(loadtext::kReestablished);
            return true;
        default:
            break;
    }
    lastStep_ = step_;
    switch (step_) {
        case LoadStep::kCheckPort:
            DoCheckPort();
            break;
        case LoadStep::kPing:
            DoPing();
            break;
        case LoadStep::kSetBaud:
            DoSetBaud();
            break;
        case LoadStep::kReadFile:
            DoReadFile();
            break;
        case LoadStep::kSendFile:
            DoSendFile();
            break;
        case LoadStep::kCheckRam:
            DoCheckRam();
            break;
        case LoadStep::kProgram:
            DoProgram();
            break;
        case LoadStep::kCheckRange:
            return DoCheckRange();
        case LoadStep::kAwaitVersion:
            DoAwaitVersion();
            break;
        default:
            break;
    }
    return false;
}

void LoadSequence::EndWith(const std::string& text) {
    step_ = LoadStep::kIdle;
    CloseImage();
    host_.ShowStatus(text);
    Finish();
}

void LoadSequence::Finish() {
    step_ = LoadStep::kIdle;
    CloseImage();
    host_.EndSequence();
}

void LoadSequence::DoCheckPort() {
    if (host_.Port().IsOpen() && host_.CurrentBaud() == kBootBaud) {
        step_ = LoadStep::kPing;
        return;
    }
    ShowStatusFor(2, loadtext::kPortError);
    Finish();
}

void LoadSequence::DoPing() {
    ShowStatusFor(2, loadtext::kStarted);
    step_ = LoadStep::kWaiting;
    for (int left = kPingAttempts; left-- > 0 && step_ == LoadStep::kWaiting;) {
        WriteCommand(X1F_PING, 0);
        host_.ShowStatus(loadtext::kEstablishing + std::to_string(left));
        WaitFor(1, LoadStep::kSetBaud);
    }
}

void LoadSequence::DoSetBaud() {
    ShowStatusFor(2, loadtext::kEstablished);
    step_ = LoadStep::kWaiting;
    for (int left = kSetBaudAttempts; left-- > 0 && step_ == LoadStep::kWaiting;) {
        // Sent at the current rate; the bootloader switches after it.
        WriteCommand(X1F_SETBAUD, kFastBaud);
        bootloaderFast_ = true;
        if (!Reopen(kFastBaud)) {
            break;
        }
        AwaitRateSwitch(kBootBaud);
        WriteCommand(X1F_PING, 0);
        WaitFor(10, LoadStep::kReadFile);
        if (step_ == LoadStep::kWaiting && !Reopen(kBootBaud)) {
            break;
        }
    }
}

void LoadSequence::DoReadFile() {
    if (!ScanImage()) {
        step_ = LoadStep::kFailed;
        return;
    }
    RewindImage();
    step_ = LoadStep::kWaiting;
    for (int left = kSetupAttempts; left-- > 0 && step_ == LoadStep::kWaiting;) {
        WriteCommand(X1F_SETUP, lowest_);
        WaitFor(1, LoadStep::kSendFile);
    }
    if (step_ == LoadStep::kSendFile) {
        progressCount_ = 0;
        blocksSent_ = 0;
        host_.ShowStatus(loadtext::kSending);
        host_.ShowProgress(0, blocksSpanned_);
    }
}

// The first pass: bounds, order and validity of every line. A broken image is never
// announced: every fault found here ends the load before X1F_SETUP.
bool LoadSequence::ScanImage() {
    lowest_ = 0xFFFFFFFFu;
    highest_ = 0;
    if (!HasImage()) {
        ShowStatusFor(3, loadtext::kInputError);
        return false;
    }
    const SrecScan scan = srec_scan(ImageLines(), [this](long record) {
        host_.ShowStatus(loadtext::kReading + std::to_string(record) + ")");
    });
    if (scan.Ok()) {
        lowest_ = scan.lowest;
        highest_ = scan.highest;
        ShowStatusFor(2, loadtext::kReadingDone);
        blockEstimate_ = scan.BlockEstimate();
        blocksSpanned_ = scan.BlocksSpanned();
        return true;
    }
    if (scan.status == SrecScanStatus::kNotSorted) {
        ShowStatusFor(3, scan.NotSortedText());
    }
    ShowStatusFor(3, loadtext::kInputError);
    return false;
}

void LoadSequence::DoSendFile() {
    DrainInput();
    for (int sent = 0; sent < kBlocksPerTurn && step_ == LoadStep::kSendFile; ++sent) {
        uint32_t address = 0;
        uint32_t length = 0;
        const bool more = blockReader_.Next(ImageLines(), block_, &address, &length);
        // The scan found the file sound; a file changed since then must not be half-programmed.
        if (blockReader_.DroppedRecords() > 0 || (!more && blockReader_.EndedOnError())) {
            ShowStatusFor(3, loadtext::kInputError);
            step_ = LoadStep::kFailed;
            break;
        }
        if (!more) {
            step_ = LoadStep::kCheckRam;
        }
        if (length > 0) {
            if (!SendBlock(address, length)) {
                break;
            }
            ++blocksSent_;
            host_.ShowProgress(blocksSent_, blocksSpanned_);
        }
        ++progressCount_;
    }
    if (!portLost_) {
        host_.ShowStatus(std::string(loadtext::kSending) + " (" +
                         std::to_string(blockEstimate_ - progressCount_) + ")");
    }
    if (step_ == LoadStep::kCheckRam) {
        WriteCommand(X1F_PING, 0);  // its answer is drained by the next step
    }
}

bool LoadSequence::SendBlock(uint32_t address, uint32_t length) {
    WriteCommand(X1F_LOAD, address, block_, static_cast<uint16_t>(length));
    AwaitBlockAnswer();
    return step_ == LoadStep::kSendFile || step_ == LoadStep::kCheckRam;
}

// Waits for the block's final answer. X1F_WORKING restarts the time allowed (up to an overall
// limit); X1F_PASS lets the sending go on; any other code refuses the block and fails the load.
void LoadSequence::AwaitBlockAnswer() {
    const int64_t sent = host_.Time().MonotonicMs();
    int64_t lastHeard = sent;
    bool answered = false;
    while (!answered && !portLost_) {
        const int64_t now = host_.Time().MonotonicMs();
        if (now - lastHeard >= kBlockAnswerMs || now - sent >= kBlockWorkingLimitMs) {
            step_ = LoadStep::kWaiting;
            return;
        }
        uint32_t got = 0;
        if (!ReadPort(&got, kPollMs)) {
            return;
        }
        FeedParser(got, [&] {
            X1fPayload answer;
            if (answered || frame_[frame::kIdOffset] != msgid::kBootloader ||
                !x1f_decode_payload(frame_ + frame::kPayloadOffset, parser_.total - frame::kOverhead,
                                    answer)) {
                return;
            }
            x1f_trace("Got x1f: %s [%d] %lu", x1f_name(answer.code), answer.code,
                      static_cast<unsigned long>(answer.value));
            if (answer.code == X1F_WORKING) {
                lastHeard = host_.Time().MonotonicMs();
                return;
            }
            answered = true;
            if (answer.code == X1F_PASS) {
                return;
            }
            if (answer.code != X1F_FAIL) {
                ShowStatusFor(2, loadtext::kUnexpected);
            }
            step_ = LoadStep::kFailed;
        });
    }
}

void LoadSequence::DoCheckRam() {
    ShowStatusFor(2, loadtext::kRequestCrc);
    DrainInput();
    reply_.code = 0;
    step_ = LoadStep::kWaiting;
    WriteCommand(X1F_CRCRAM, 0);
    if (!AwaitCrcReply(LoadStep::kProgram)) {
        return;
    }
    if (reply_.code == X1F_BADCMD) {
        host_.ShowStatus(loadtext::kNoCrc);
        step_ = LoadStep::kProgram;
    } else if (reply_.code == X1F_PASS && reply_.value == 0) {
        ShowStatusFor(2, loadtext::kRamCrc + std::to_string(reply_.value));
    } else {
        ShowStatusFor(2, loadtext::kCrcFailed);
        step_ = LoadStep::kFailed;
    }
}

// Up to six waits of 2 s while no final reply came. Returns false when the wait ended without
// a verdict to judge (time-out or lost port).
bool LoadSequence::AwaitCrcReply(LoadStep next) {
    for (int waits = 0; waits < kCrcWaits && step_ == LoadStep::kWaiting && !portLost_ &&
                        (reply_.code == 0 || reply_.code == X1F_WORKING);
         ++waits) {
        WaitFor(2, next);
    }
    return step_ != LoadStep::kWaiting && !portLost_;
}

void LoadSequence::DoProgram() {
    Hold(2);
    DrainInput();
    WriteCommand(X1F_PROGRAM, 0);
    receiver_ = Receiver::kProgramming;
    ShowStatusFor(2, loadtext::kStartProgramming);
    step_ = LoadStep::kWaiting;
    WaitFor(120, LoadStep::kCheckRange);
    if (step_ != LoadStep::kWaiting) {  // its final answer came
        receiver_ = Receiver::kBootloader;
    }
}

bool LoadSequence::DoCheckRange() {
    ShowStatusFor(2, loadtext::kRequestCrc);
    const uint32_t rangeLength = highest_ - lowest_ + 1;
    put_le32(block_, rangeLength);
    x1f_trace("X1F_CRCANY: minaddr = %lu, outbuf = %lu", static_cast<unsigned long>(lowest_),
              static_cast<unsigned long>(rangeLength));
    reply_.code = 0;
    step_ = LoadStep::kWaiting;
    WriteCommand(X1F_CRCANY, lowest_, block_, 4);
    if (!AwaitCrcReply(LoadStep::kAwaitVersion)) {
        return false;
    }
    if (reply_.code == X1F_BADCMD) {
        host_.ShowStatus(loadtext::kNoCrc);
        step_ = LoadStep::kAwaitVersion;
    } else if (reply_.code == X1F_PASS && reply_.value == 0) {
        imageChecked_ = true;
        ShowStatusFor(2, loadtext::kCrcPassed);
    } else {
        ShowStatusFor(2, loadtext::kCrcFailed);
        x1f_trace("ReturnedX1F.address=%lu", static_cast<unsigned long>(reply_.value));
        step_ = LoadStep::kFailed;
    }
    if (step_ != LoadStep::kAwaitVersion) {
        return false;
    }
    receiver_ = Receiver::kProgrammed;
    host_.UpdateVersionLabel(ReceiverVersion{});
    ShowStatusFor(2, loadtext::kProgrammingDone);
    if (host_.CurrentBaud() == kFastBaud && !Reopen(kBootBaud)) {
        return false;
    }
    host_.ShowPanel({"Cycle Power on the Receiver Now!", "And Wait Until Communication with",
                     "the Receiver is Re-established."},
                    PanelColour::kBlue);
    return true;
}

void LoadSequence::DoAwaitVersion() {
    DrainInput();
    step_ = LoadStep::kWaiting;
    for (int left = kVersionAttempts; left-- > 0 && step_ == LoadStep::kWaiting && !portLost_;) {
        StopIfRequested();
        host_.RequestVersion();
        host_.ShowStatus(loadtext::kWaitingVersion + std::to_string(left));
        deadline_ = host_.Time().NowSeconds() + 2;
        AwaitVersionFrame();
    }
}

// True when a configuration message arrived before the deadline.
bool LoadSequence::AwaitVersionFrame() {
    while (step_ == LoadStep::kWaiting && host_.Time().NowSeconds() < deadline_) {
        uint32_t got = 0;
        if (!ReadPort(&got, kPollMs)) {
            return false;
        }
        FeedParser(got, [&] {
            if (frame_[frame::kIdOffset] == msgid::kConfig && step_ == LoadStep::kWaiting) {
                step_ = LoadStep::kReestablished;
            }
        });
    }
    return step_ == LoadStep::kReestablished;
}

void LoadSequence::WaitFor(int seconds, LoadStep next) {
    deadline_ = host_.Time().NowSeconds() + seconds;
    AwaitX1fReply(next);
}

void LoadSequence::AwaitX1fReply(LoadStep next) {
    while (deadline_ > host_.Time().NowSeconds()) {
        uint32_t got = 0;
        if (!ReadPort(&got, kPollMs)) {
            return;
        }
        FeedParser(got, [&] {
            if (frame_[frame::kIdOffset] == msgid::kBootloader) {
                OnReply(next);
            }
        });
    }
}

// Acts on one message-31 reply; one too short to carry a code and value is ignored.
void LoadSequence::OnReply(LoadStep next) {
    X1fPayload answer;
    if (!x1f_decode_payload(frame_ + frame::kPayloadOffset, parser_.total - frame::kOverhead, answer)) {
        return;
    }
    reply_ = answer;
    x1f_trace("Got x1f: %s [%d] %lu", x1f_name(reply_.code), reply_.code,
              static_cast<unsigned long>(reply_.value));
    const int64_t ended = host_.Time().NowSeconds() - 1;
    switch (reply_.code) {
        case X1F_PASS:
            deadline_ = ended;
            step_ = next;
            if (next == LoadStep::kSetBaud) {  // a probe answered: the bootloader runs now
                receiver_ = Receiver::kBootloader;
            }
            break;
        case X1F_FAIL:
            deadline_ = ended;
            step_ = LoadStep::kFailed;
            break;
        case X1F_WORKING:
            ShowStatusFor(2, InProgressText());  // the deadline stays where it was
            break;
        case X1F_BADCMD:
            deadline_ = ended;
            ShowStatusFor(2, loadtext::kUnrecognized);
            step_ = LoadStep::kFailed;
            break;
        default:
            deadline_ = ended;
            ShowStatusFor(2, loadtext::kUnexpected);
            break;
    }
}

// The bootloader answers X1F_SETBAUD at the old rate and only then switches: a probe sent
// before its answer has left the line would reach it at the wrong rate. So wait one reply
// frame's wire time at the old rate and a margin, throwing away what comes (that answer, heard
// at the new rate), then drain the line.
void LoadSequence::AwaitRateSwitch(uint32_t oldBaud) {
    const int64_t until =
        host_.Time().MonotonicMs() + CommandFrameWireMs(static_cast<int32_t>(oldBaud)) + kRateSwitchMarginMs;
    uint32_t got = 0;
    while (host_.Time().MonotonicMs() < until) {
        if (!ReadPort(&got, kPollMs)) {
            return;
        }
    }
    DrainInput();
}

// Throws away what is waiting on the line. The parser restarts too: a frame it had begun lost
// its remaining bytes here and would otherwise swallow the start of the next reply.
void LoadSequence::DrainInput() {
    const int64_t until = host_.Time().MonotonicMs() + kDrainLimitMs;
    uint32_t got = 0;
    do {
        if (!ReadPort(&got, kDrainWaitMs)) {
            break;
        }
    } while (got > 0 && host_.Time().MonotonicMs() < until);
    parser_ = DiagFrameState{};
}

void LoadSequence::ShowStatusFor(int seconds, const std::string& text) {
    host_.ShowStatus(text);
    Hold(seconds);
}

void LoadSequence::Hold(int seconds) {
    host_.HoldStatus(seconds);
    StopIfRequested();
}

// Nothing stops a receiver that programs itself: the first request then asks the host whether
// to warn and go on waiting.
void LoadSequence::StopIfRequested() {
    if (stopping_ || !host_.StopRequested()) {
        return;
    }
    if (receiver_ == Receiver::kProgramming && !warnedProgramming_) {
        warnedProgramming_ = true;
        if (host_.KeepWaitingWhileProgramming()) {
            return;
        }
    }
    throw StopRequest{};
}

// "In Progress..." and the time since the command that the receiver is working on, as m:ss.
std::string LoadSequence::InProgressText() {
    const int64_t seconds = (host_.Time().MonotonicMs() - commandSentMs_) / kMsPerSecond;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, " %lld:%02lld",
                  static_cast<long long>(seconds / kSecondsPerMinute),
                  static_cast<long long>(seconds % kSecondsPerMinute));
    return loadtext::kInProgress + std::string(elapsed);
}

void LoadSequence::WriteCommand(uint8_t code, uint32_t value, const uint8_t* data, uint16_t length) {
    StopIfRequested();
    if (portLost_) {
        return;
    }
    const uint16_t size = x1f_build_frame(code, value, data, length, 0, command_);
    CheckPortLost(host_.Port().Write(command_, size));
    commandSentMs_ = host_.Time().MonotonicMs();
}

// One bounded read into the receive buffer. Returns false once the port is lost. A read that
// brings nothing never returns sooner than its wait, so no loop over it can spin.
bool LoadSequence::ReadPort(uint32_t* received, int32_t waitMs) {
    *received = 0;
    StopIfRequested();
    if (portLost_) {
        return false;
    }
    const int64_t started = host_.Time().MonotonicMs();
    const bool ok = host_.Port().Read(receive_, kBufferSize, received, waitMs);
    if (!ok) {
        *received = 0;
    }
    if (!ok || (*received == 0 && host_.DeviceGone())) {
        CheckPortLost(false);
    } else {
        failures_ = 0;
    }
    if (!portLost_ && *received == 0) {
        const int64_t left = waitMs - (host_.Time().MonotonicMs() - started);
        if (left > 0) {
            host_.Time().SleepMs(left);
        }
    }
    return !portLost_;
}
// After a failed port operation: a port that is no longer open, a device the host reports
// gone, or a port that fails every operation (a hung-up line fails at once, again and again)
// ends the load at once, with the port's own error text.
void LoadSequence::CheckPortLost(bool ok) {
    if (ok) {
        failures_ = 0;
        return;
    }
    if (portLost_) {
        return;
    }
    LoaderPort& port = host_.Port();
    ++failures_;
    if (port.IsOpen() && !host_.DeviceGone() && failures_ < kFailuresForLoss) {
        return;
    }
    // The port's last error is stale when the host, not the port, noticed the loss.
    ReportPortLost(host_.DeviceGone() ? std::string() : port.LastErrorText());
}

void LoadSequence::ReportPortLost(std::string reason) {
    portLost_ = true;
    if (reason.empty()) {
        reason = "the device is no longer there";
    }
    ShowStatusFor(2, loadtext::kPortLost + reason);
    step_ = LoadStep::kFailed;
}

// A port that cannot be opened again at the new rate is lost: the open's own error says why.
bool LoadSequence::Reopen(uint32_t baud) {
    StopIfRequested();
    if (portLost_) {
        return false;
    }
    if (!host_.ReopenPort(baud)) {
        ReportPortLost(host_.Port().LastErrorText());
        return false;
    }
    return true;
}

void LoadSequence::CloseImage() {
    if (image_ != nullptr) {
        std::fclose(image_);
        image_ = nullptr;
    }
    imageText_ = {};
    imageInMemory_ = false;
}

const char* LoadSequence::TimeoutText() const {
    switch (lastStep_) {
        case LoadStep::kSetBaud:
            return loadtext::kTimeoutSetup;
        case LoadStep::kSendFile:
            return loadtext::kTimeoutData;
        case LoadStep::kProgram:
            return loadtext::kTimeoutProgram;
        case LoadStep::kAwaitVersion:
            return loadtext::kTimeoutVersion;
        default:
            return loadtext::kTimeout;
    }
}
