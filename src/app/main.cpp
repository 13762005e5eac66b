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

int main(int argc, char* argv[]) {
    const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!cl.error.empty()) {
        std::fprintf(stderr, "lctrovi-utility: %s\n%s", cl.error.c_str(), UsageText().c_str());
        return 2;
    }
    if (cl.help || cl.version) {
        std::fputs((cl.help ? UsageText() : VersionText()).c_str(), stdout);
        return 0;
    }
    CommandLineDevices() = cl.devices;

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
