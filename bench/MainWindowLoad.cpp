// The main window under load: the real windows and receive timer against the simulated
// receiver sending all six sentences at 5 Hz at 38400 baud, with logging on. Prints the
// user-interface thread's CPU time as a share of wall time, the resident memory every 10 s
// and at its peak, and the sentences logged against those sent.
// The simulator runs as a process of its own, so that its record does not count against
// the program's memory; its record file says what it sent.
// Usage: lct_bench_mainwindow LCTROVI_SIM [SECONDS]   (bench/main-window-load runs it under Xvfb)
#include <sys/resource.h>

#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Forms.h"
#include "link/Port.h"
#include "ui/Aboutform.h"
#include "ui/Mainform.h"
#include "ui/Portform.h"

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(256, '\n');
    }
    return -1;
}

// Runs the event loop, as the program's own would, for ms milliseconds.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Sentences the simulator's record file says it sent.
size_t SentencesSent(const std::string& record) {
    std::ifstream in(record);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) {
        n += line.find(" TX SENTENCE ") != std::string::npos;
    }
    return n;
}

size_t CountLines(const std::string& path) {
    std::ifstream in(path);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) {
        ++n;
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lct_bench_mainwindow LCTROVI_SIM [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const std::string dir =
        std::filesystem::temp_directory_path() / ("lct-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string device = dir + "/receiver";
    const std::string record = dir + "/record.txt";
    const std::string log = dir + "/log.txt";

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QString::fromLocal8Bit(argv[1]),
              {"--baud", "38400", "--nmea-mask", "0x3F", "--nmea-rate", "5", "--silent", "--link",
               QString::fromStdString(device), "--record", QString::fromStdString(record)});
    for (int i = 0; i < 50 && !std::filesystem::exists(device); ++i) {
        RunFor(100);
    }
    if (!std::filesystem::exists(device)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    CommandLineDevices() = {device};
    CreateForms();
    FormMain->show();
    FormAbout->hide();
    FormPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormPort->ButtonApplyClick();
    FormMain->chooseLogFile = [&] { return QString::fromStdString(log); };
    FormMain->MenuFileLoggingClick();
    RunFor(500);

    // The simulator starts silent; "silent off" on its standard input sets it talking.
    sim.write("silent off\n");
    const double cpu0 = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    long peak = 0;
    for (int s = 10; s <= seconds; s += 10) {
        RunFor(10'000);
        const long rss = ResidentKiB();
        peak = std::max(peak, rss);
        std::printf("t=%3d s  resident %ld KiB\n", s, rss);
        std::fflush(stdout);
    }
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    sim.write("silent on\n");
    RunFor(1000);  // what is still on the line
    FormMain->MenuFileLoggingClick();
    sim.terminate();
    sim.waitForFinished(3000);

    const size_t sent = SentencesSent(record);
    const size_t logged = CountLines(log);
    std::printf("user-interface thread CPU: %.2f s of %.1f s wall = %.2f %%\n", cpu, elapsed,
                100.0 * cpu / elapsed);
    std::printf("resident memory peak: %ld KiB\n", peak);
    std::printf("sentences sent %zu, logged %zu, lost %zd\n", sent, logged,
                static_cast<ssize_t>(sent) - static_cast<ssize_t>(logged));
    Link().line.Close();
    DestroyForms();
    std::filesystem::remove_all(dir);
    return logged == sent ? 0 : 1;
}
