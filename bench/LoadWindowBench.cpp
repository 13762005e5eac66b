// The loading window during a software load: the real windows against the simulated receiver
// (lctrovi-sim, a process of its own) in real time. Prints
// (1) the longest gap between two firings of a 10 ms timer on the window's thread while a
//     64 KiB image is loaded at 57600 baud, with the status shown when it came, and the gaps'
//     99th percentile: how long the window did not answer;
// (2) the time from pressing Load to cancel (a new file chosen, then Load, as a user does)
//     until "Cancelled" is shown and until the window is restored, at three points: in the
//     probes' countdown (the bootloader does not answer), amid the blocks and during the
//     programming wait.
// Usage: lct_bench_loadwindow LCTROVI_SIM   (bench/loading-window runs it under Xvfb)
#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/Forms.h"
#include "link/Port.h"
#include "loader/Loadsequence.h"
#include "loader/SrecText.h"
#include "ui/Aboutform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Portform.h"

namespace {

constexpr uint32_t kImageBytes = 64 * 1024;
constexpr uint32_t kLowest = 0x00040000;
constexpr int kProbeMs = 10;

// Runs the event loop until pred holds or timeoutMs passes.
bool RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!pred() && waited.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(kProbeMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return pred();
}

QString Status() {
    return FormLoadSetup->Memo()->toPlainText();
}

// One simulated receiver, and the program's windows with its device opened at 19200.
class Bench {
  public:
    Bench(const char* simPath, const std::string& dir, const QStringList& simOptions) {
        device_ = dir + "/receiver";
        std::filesystem::remove(device_);
        sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim_.start(
            QString::fromLocal8Bit(simPath),
            QStringList{"--link", QString::fromStdString(device_), "--power-cycle-after", "0"} + simOptions);
        RunUntil([this] { return std::filesystem::exists(device_); }, 5000);
        CommandLineDevices() = {device_};
        CreateForms();
        FormMain->show();
        FormAbout->hide();
        FormPort->ButtonApplyClick();
        FormMain->Action("MenuLoad")->trigger();
        RunUntil([] { return FormLoadSetup->LabelVersion()->text() != "Not Known"; }, 5000);
        // The user cycles the power when the window asks for it.
        QObject::connect(FormLoadSetup, &TFormLoadSetup::panelShown, [this] {
            if (FormLoadSetup->PanelLine(1)->text() == "Cycle Power on the Receiver Now!") {
                sim_.write("power\n");
            }
        });
    }
    ~Bench() {
        DestroyForms();
        Link().line.Close();
        sim_.terminate();
        sim_.waitForFinished(3000);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool Ready() const { return Link().line.IsOpen(); }

  private:
    std::string device_;
    QProcess sim_;
};

void Choose(const std::string& image) {
    FormLoadSetup->chooseFile = [image] { return QString::fromStdString(image); };
    FormLoadSetup->ButtonSoftwareFileClick();
}

void MeasureGaps(const char* simPath, const std::string& dir, const std::string& image) {
    Bench bench(simPath, dir, {});
    if (!bench.Ready()) {
        std::fprintf(stderr, "the simulator's device did not open\n");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    std::vector<int64_t> gaps;
    int64_t last = -1;
    int64_t longest = 0;
    QString longestAt;
    QTimer probe;
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const int64_t now = clock.elapsed();
        if (last >= 0) {
            gaps.push_back(now - last);
            if (now - last > longest) {
                longest = now - last;
                longestAt = Status();
            }
        }
        last = now;
    });
    double sendStart = 0;
    double sendEnd = 0;
    QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [&] {
        const QString text = Status();
        if (text.startsWith(loadtext::kSending) && sendStart == 0) {
            sendStart = static_cast<double>(clock.elapsed()) / 1000.0;
        }
        if (text == loadtext::kRequestCrc && sendEnd == 0 && sendStart != 0) {
            sendEnd = static_cast<double>(clock.elapsed()) / 1000.0;
        }
    });
    Choose(image);
    probe.start();
    const int64_t started = clock.elapsed();
    last = started;
    FormLoadSetup->ButtonLoadClick();
    RunUntil([] { return !FormLoadSetup->Running(); }, 600'000);
    probe.stop();
    const double wall = static_cast<double>(clock.elapsed() - started) / 1000.0;

    std::sort(gaps.begin(), gaps.end());
    const int64_t p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
    std::printf("(1) whole load of %u bytes at 57600 baud through the window: %.1f s, final status \"%s\"\n",
                kImageBytes, wall, qPrintable(Status()));
    std::printf("    blocks: %.1f s (writes unpaced on the pseudo-terminal)\n", sendEnd - sendStart);
    std::printf(
        "    event loop: %zu timer firings at %d ms, longest gap %lld ms (status then: \"%s\"), "
        "99th percentile %lld ms\n",
        gaps.size(), kProbeMs, static_cast<long long>(longest), qPrintable(longestAt),
        static_cast<long long>(p99));
}

struct CancelPoint {
    const char* legend;
    QStringList simOptions;
    // Connects what tells the moment to cancel; calls `cancel` once then.
    std::function<void(const std::function<void()>& cancel)> arm;
};

void MeasureCancel(const char* simPath, const std::string& dir, const std::string& image,
                   const CancelPoint& point) {
    Bench bench(simPath, dir, point.simOptions);
    if (!bench.Ready()) {
        std::fprintf(stderr, "the simulator's device did not open\n");
        return;
    }
    QElapsedTimer clock;
    int64_t pressed = -1;
    int64_t cancelled = -1;
    QString before;
    QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [&] {
        if (pressed >= 0 && cancelled < 0 && Status() == loadtext::kCancelled) {
            cancelled = clock.elapsed();
        }
    });
    bool armed = false;
    point.arm([&] {
        if (armed) {
            return;
        }
        armed = true;
        // The user clicks now; the click is handled when the window's event loop next runs.
        clock.start();
        pressed = 0;
        before = Status();
        QTimer::singleShot(0, FormLoadSetup, [&] {
            Choose(image);
            FormLoadSetup->ButtonLoadClick();
        });
    });
    Choose(image);
    FormLoadSetup->ButtonLoadClick();
    RunUntil([&] { return pressed >= 0 && !FormLoadSetup->Running(); }, 600'000);
    const int64_t restored = pressed >= 0 ? clock.elapsed() : -1;
    std::printf(
        "(2) cancel %s (status then: \"%s\"): \"Cancelled\" after %lld ms, window restored after %lld ms,"
        " final status \"%s\"\n",
        point.legend, qPrintable(before), static_cast<long long>(cancelled), static_cast<long long>(restored),
        qPrintable(Status()));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lct_bench_loadwindow LCTROVI_SIM\n");
        return 2;
    }
    const std::string dir =
        std::filesystem::temp_directory_path() / ("lct-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string image = dir + "/image.hex";
    std::vector<uint8_t> data(kImageBytes);
    std::mt19937 rng(7);
    for (auto& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");

    MeasureGaps(argv[1], dir, image);

    const CancelPoint points[] = {
        {"in the probes' countdown",
         {"--no-reply-x1f", "0"},
         [](const std::function<void()>& cancel) {
             QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [cancel] {
                 if (Status() == "Establishing Communication... 57") {
                     cancel();
                 }
             });
         }},
        {"amid the blocks",
         {},
         [](const std::function<void()>& cancel) {
             QObject::connect(FormLoadSetup, &TFormLoadSetup::progressShown,
                              [cancel](int handled, int total) {
                                  if (total > 1 && handled >= total / 4) {
                                      cancel();
                                  }
                              });
         }},
        {"in the programming wait",
         {"--program-time", "30000"},
         [](const std::function<void()>& cancel) {
             QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [cancel] {
                 if (Status() == loadtext::kStartProgramming) {
                     QTimer::singleShot(3000, FormLoadSetup, cancel);  // into the 120-second wait
                 }
             });
         }},
    };
    for (const CancelPoint& point : points) {
        MeasureCancel(argv[1], dir, image, point);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
