#pragma once
// What the program remembers between runs: the port dialog's last device and rate, the folder
// of the last file chosen in each file dialog, and where each window stood. Nothing is read or
// written until a store is chosen: the program chooses the platform's own (an INI file under
// ~/.config on Linux, the registry on Windows), tests a scratch file. A value that cannot be
// read or makes no sense is ignored, so a damaged store gives the defaults.
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

// The platform's native store under the application's organisation and name.
void UseNativeSettings();
// An INI file at `path` (tests, and anyone who wants the settings in one place).
void UseSettingsFile(const QString& path);
// No store: nothing remembered, nothing written (the state before a store is chosen).
void UseNoSettings();

struct PortChoice {
    std::string device;
    int32_t baudRate = 0;
};
// The device and rate last applied in the port dialog or found by its search.
std::optional<PortChoice> StoredPortChoice();
void StorePortChoice(const PortChoice& choice);

// The file dialogs whose folders are remembered, each on its own.
enum class FileFolder {
    Records,   // File > Logging and File > Save Display As...
    Software,  // the software image chosen in Load Software
};
// The folder of the last file chosen in that kind of dialog; empty when none is known.
QString StoredFolder(FileFolder kind);
void StoreFolderOf(FileFolder kind, const QString& chosenFile);

struct WindowPlace {
    QRect frame;   // the outer rectangle, title bar included, in screen coordinates
    QSize client;  // the size inside the frame
};
// Where the window named `window` (its object name) stood when the program last saved it.
std::optional<WindowPlace> StoredPlace(const QString& window);
void StorePlace(const QString& window, const WindowPlace& place);
