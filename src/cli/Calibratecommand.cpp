// lctrovi calibrate: the TCM level calibration as a terminal wizard, over the calibration
// dialog's step machine. Enter presses the first button (Continue), "c" the second (Cancel);
// any other line asks again.
#include <cstdio>
#include <string>

#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Session.h"
#include "config/Configmsg.h"
#include "config/Tcmcalib.h"
#include "proto/Bytes.h"
#include "proto/Messages.h"

namespace {
const char* const kCalibrateHelp =
    "Usage: lctrovi calibrate --device D [--baud B]\n"
    "Run the two-position TCM level calibration with the calibration window's prompts: press\n"
    "Enter for Continue (or OK), type c and Enter for Cancel; anything else asks again. End of\n"
    "input cancels. Exit status 0 when the calibration completed, 1 when it was aborted, failed\n"
    "or the receiver did not answer.\n"
    "\n" LCT_PORT_OPTIONS_HELP "  --help         show this help and exit\n";

constexpr int32_t kReadSliceMs = 50;
constexpr int64_t kReplyLimitMs = 10'000;  // after the last poll, a measurement must be answered
constexpr int64_t kQuietMs = 300;          // every poll is answered: the answers end with this quiet

enum class Choice { kButton1, kButton2, kNone };

class Wizard {
  public:
    explicit Wizard(Session& session) : session_(session) {}
    int Run();

  private:
    void Apply(const CalibrationEffects& fx);
    void Show();
    Choice Ask();
    bool Poll();
    bool AwaitReply();
    bool DrainAnswers();
    void OnFrame(const DiagProto& diag);

    Session& session_;
    TcmCalibration wizard_;
    bool polling_ = false;
    bool failed_ = false;
    std::string shown_;
};

void Wizard::Show() {
    const CalibrationView& view = wizard_.View();
    std::string text;
    for (const std::string* line : {&view.status1, &view.status2, &view.status3}) {
        if (!line->empty()) {
            text += *line + "\n";
        }
    }
    if (text != shown_) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        shown_ = text;
    }
}

void Wizard::Apply(const CalibrationEffects& fx) {
    if (fx.send) {
        uint8_t frame[config::kFrameLength];
        failed_ =
            failed_ || !session_.Send(frame, BuildConfigFrame(EncodeCalibrationCommand(*fx.send), frame));
    }
    if (fx.startPolling) {
        polling_ = true;
    }
    if (fx.stopPolling) {
        polling_ = false;
    }
    Show();
}

// Waits for a line on standard input; what arrives on the port meanwhile is read and
// handled, so the receiver's replies are not left to pile up.
Choice Wizard::Ask() {
    const CalibrationView& view = wizard_.View();
    const bool first = view.button1.visible && view.button1.enabled;
    const bool second = view.button2.visible && view.button2.enabled;
    // Appended piece by piece: GCC 12 warns (-Wrestrict) about "..." + std::string at -O3.
    std::string prompt = "[";
    if (first) {
        prompt.append("Enter: ").append(view.button1.caption);
    }
    if (first && second) {
        prompt.append(", ");
    }
    if (second) {
        prompt.append("c: ").append(view.button2.caption);
    }
    prompt.append("] ");
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
    std::string line;
    for (;;) {
        char c = 0;
        const InputWait waited = NextInputByte(c, kReadSliceMs);
        if (waited == InputWait::kEnd) {
            std::printf("\n");
            return second ? Choice::kButton2 : Choice::kNone;  // end of input: cancel
        }
        if (waited == InputWait::kByte) {
            if (c == '\r') {
                continue;  // a Windows console ends a line with CR LF
            }
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.empty() && first) {
                return Choice::kButton1;
            }
            if ((line == "c" || line == "C") && second) {
                return Choice::kButton2;
            }
            std::fputs(prompt.c_str(), stdout);  // not one of the answers offered: asked again
            std::fflush(stdout);
            line.clear();
            continue;
        }
        if (!session_.Pump(
                0, [this](const DiagProto& d) { OnFrame(d); }, [](const CRLFProto&) {})) {
            return Choice::kNone;
        }
    }
}

void Wizard::OnFrame(const DiagProto& diag) {
    const uint8_t* frame = diag.MessageData();
    const size_t length = diag.MessageLength();
    if (length < frame::kOverhead || frame[frame::kIdOffset] != msgid::kConfig) {
        return;
    }
    const uint8_t* payload = frame + frame::kPayloadOffset;
    const size_t payloadLength = length - frame::kOverhead;
    if (payloadLength <= config::kCalibrationCommand || payload[config::kCalibrationCommand] == 0) {
        return;
    }
    const int32_t value =
        payloadLength >= config::kCalibrationValue + 4u ? get_le32s(payload + config::kCalibrationValue) : 0;
    Apply(wizard_.Reply(payload[config::kCalibrationCommand], value));
}

// The poll timer: while it runs the window does not read, as here.
bool Wizard::Poll() {
    while (polling_ && !failed_) {
        CurrentClock().SleepMs(TcmCalibration::kPollIntervalMs);
        Apply(wizard_.PollTick());
    }
    return !failed_;
}

// After the polls, the receive loop takes the replies; one must change the step.
bool Wizard::AwaitReply() {
    Clock& clock = CurrentClock();
    const CalibrationStep before = wizard_.Step();
    const int64_t until = clock.MonotonicMs() + kReplyLimitMs;
    while (wizard_.Step() == before && !polling_ && clock.MonotonicMs() < until) {
        if (!session_.Pump(
                kReadSliceMs, [this](const DiagProto& d) { OnFrame(d); }, [](const CRLFProto&) {})) {
            std::fprintf(stderr, "Serial port lost: %s\n", session_.Port().LastErrorText().c_str());
            return false;
        }
        if (wizard_.View().button2.caption == "Cancel" && !wizard_.View().button1.visible) {
            return true;  // the vehicle must stop: only Cancel is left to press
        }
    }
    if (wizard_.Step() == before && !polling_) {
        session_.ReportNoAnswer();
        return false;
    }
    return DrainAnswers();
}

// Each poll has its answer; those still on the way would otherwise be taken as answers to the
// next measurement. Reads until the line has been quiet a while.
bool Wizard::DrainAnswers() {
    Clock& clock = CurrentClock();
    const int64_t until = clock.MonotonicMs() + kReplyLimitMs;
    int64_t lastFrame = clock.MonotonicMs();
    const auto onFrame = [&](const DiagProto& d) {
        lastFrame = clock.MonotonicMs();
        OnFrame(d);
    };
    while (clock.MonotonicMs() - lastFrame < kQuietMs && clock.MonotonicMs() < until) {
        if (!session_.Pump(kReadSliceMs, onFrame, [](const CRLFProto&) {})) {
            return false;
        }
    }
    return true;
}

int Wizard::Run() {
    wizard_.Open();
    Show();
    while (wizard_.Step() != CalibrationStep::Finished && !failed_) {
        const CalibrationStep step = wizard_.Step();
        if (step == CalibrationStep::FirstMeasuring || step == CalibrationStep::SecondMeasuring) {
            if (!Poll() || !AwaitReply()) {
                Apply(wizard_.Cancel());
                return kExitFailed;
            }
            if (wizard_.View().button1.visible) {
                continue;
            }
        }
        const Choice choice = Ask();
        if (choice == Choice::kNone) {
            return kExitFailed;
        }
        Apply(choice == Choice::kButton1 ? wizard_.Continue() : wizard_.Cancel());
    }
    return !failed_ && wizard_.View().status1 == "TCM calibration complete." ? kExitOk : kExitFailed;
}
}  // namespace

int RunCalibrate(const Arguments& args) {
    CliArgs parsed;
    int status = kExitOk;
    if (!ReadCommandLine(args, {"--device", "--baud"}, {}, kCalibrateHelp, parsed, status)) {
        return status;
    }
    Session session;
    if (const int opened = OpenSession(parsed, session); opened != kExitOk) {
        return opened;
    }
    // The wizard starts only with a receiver that answers.
    if (!session.Request(msgid::kConfig)) {
        return kExitFailed;
    }
    Wizard wizard(session);
    return wizard.Run();
}
