// One hour of a receiver at 5 Hz (six sentences and a binary message each fix) replayed "as
// fast as possible" into the real main window: the display, the status window's decoding and
// NMEA logging, as a replay from File > Open Recording... runs. Prints the wall time, the
// lines shown and logged, and the lines per second.
// Usage: lct_bench_replaywindow [SECONDS_OF_RECORDING]   (offscreen unless QT_QPA_PLATFORM is set)
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FiveHertzRecording.h"
#include "app/Forms.h"
#include "ui/Mainform.h"

namespace {
uint64_t LinesIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint64_t lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines;
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const uint64_t seconds = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 3600;
    const auto dir =
        std::filesystem::temp_directory_path() / ("lct-bench-replay-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string recording = (dir / "hour.rec").string();
    const std::string log = (dir / "log.txt").string();
    const FiveHertzRecording made = WriteFiveHertzRecording(recording, seconds);
    std::printf(
        "recording: %llu s at 5 Hz, %llu fixes, %llu display lines, %.1f MB received, %.1f MB on disk\n",
        static_cast<unsigned long long>(seconds), static_cast<unsigned long long>(made.fixes),
        static_cast<unsigned long long>(made.lines), static_cast<double>(made.bytes) / 1e6,
        static_cast<double>(std::filesystem::file_size(recording)) / 1e6);

    CreateForms();
    FormMain->show();
    FormMain->chooseLogFile = [&log] { return QString::fromStdString(log); };
    FormMain->MenuFileLoggingClick();
    FormMain->Action("MenuReplayFastest")->trigger();
    QElapsedTimer timer;
    timer.start();
    if (!FormMain->StartReplay(QString::fromStdString(recording), 0)) {
        std::printf("the replay did not start\n");
        return 1;
    }
    // The program's own event loop runs the replay's timer, as it does for a user.
    QEventLoop loop;
    while (FormMain->Replaying()) {
        loop.processEvents(QEventLoop::AllEvents, 50);
    }
    const double elapsed = static_cast<double>(timer.elapsed()) / 1000.0;
    FormMain->MenuFileLoggingClick();
    const uint64_t logged = LinesIn(log);
    std::printf(
        "replayed as fast as possible into the main window: %.2f s (target < 10 s), %.0f display lines/s; "
        "%llu sentences logged of %llu sent\n",
        elapsed, static_cast<double>(made.lines) / elapsed, static_cast<unsigned long long>(logged),
        static_cast<unsigned long long>(made.fixes) * 6);
    DestroyForms();
    std::filesystem::remove_all(dir);
    return 0;
}
