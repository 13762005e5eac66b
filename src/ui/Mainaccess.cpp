#include "ui/Mainaccess.h"

namespace {
MainWindowAccess* mainWindow = nullptr;
}  // namespace

MainWindowAccess* MainWindow() {
    return mainWindow;
}

void SetMainWindow(MainWindowAccess* window) {
    mainWindow = window;
}
