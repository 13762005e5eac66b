// Program entry: the command line, the windows in their order, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/Commandline.h"
#include "app/Forms.h"
#include "ui/Mainform.h"
#include "ui/Portform.h"
#include "ui/Storedsettings.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// A program of the Windows subsystem starts without a console. Typed in cmd or PowerShell,
// --help and --version print into the console it was started from; output already redirected
// to a file or a pipe stays there.
void PrintToTheParentConsole() {
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN) {
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        FILE* stream = nullptr;
        freopen_s(&stream, "CONOUT$", "w", stdout);
        freopen_s(&stream, "CONOUT$", "w", stderr);
    }
}

// Held while the program runs: the installer and the uninstaller look for it and refuse to
// replace or remove the files of a running program.
class RunningMark {
  public:
    RunningMark() : handle_(CreateMutexW(nullptr, FALSE, L"LCTroviUtility.Running")) {}
    ~RunningMark() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

  private:
    HANDLE handle_;
};
#else
void PrintToTheParentConsole() {}
struct RunningMark {};
#endif

}  // namespace

int main(int argc, char* argv[]) {
    const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!cl.error.empty() || cl.help || cl.version) {
        PrintToTheParentConsole();
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "lctrovi-utility: %s\n%s", cl.error.c_str(), UsageText().c_str());
        return 2;
    }
    if (cl.help || cl.version) {
        std::fputs((cl.help ? UsageText() : VersionText()).c_str(), stdout);
        return 0;
    }
    CommandLineDevices() = cl.devices;
    [[maybe_unused]] const RunningMark running;

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumacor"));
    QApplication::setApplicationName(QStringLiteral("LCTrovi Utility"));
    UseNativeSettings();  // ~/.config/Lumacor/LCTrovi Utility.conf; on Windows, the registry
    int result = 0;
    try {
        CreateForms();
        FormMain->show();
        result = QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("LCTrovi Utility"), QString::fromUtf8(e.what()));
    }
    DestroyForms();
    return result;
}
