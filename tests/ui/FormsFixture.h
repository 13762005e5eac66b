#pragma once
// Builds the program's whole window set for a test, and tears it down afterwards, with the
// shared serial port closed on both sides.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Forms.h"
#include "link/Port.h"
#include "ui/Portform.h"
#include "ui/Storedsettings.h"

// While it lives, the program remembers its settings in a scratch INI file of its own, never
// in the user's; the file starts absent.
class ScratchSettings {
  public:
    ScratchSettings() {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        UseSettingsFile(File());
    }
    ~ScratchSettings() {
        UseNoSettings();
        std::filesystem::remove_all(dir);
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;
    QString File() const { return QString::fromStdString((dir / "settings.ini").string()); }
    // A folder inside the scratch area, created.
    std::string Folder(const std::string& name) const {
        std::filesystem::create_directories(dir / name);
        return (dir / name).string();
    }

  private:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lct-settings-" + std::to_string(::getpid()));
};

class FormsTest : public ::testing::Test {
  protected:
    // Devices listed first in the port dialog, as the command line gives them.
    // The system's own ports are left out, so that the list is the same on every machine.
    void CreateWithDevices(std::vector<std::string> devices) {
        CommandLineDevices() = std::move(devices);
        SystemPortLister = [](StringDeque& list) {
            list.clear();
            return true;
        };
        CreateForms();
    }
    void SetUp() override {}
    void TearDown() override {
        DestroyForms();  // first: a software load still running stops and lets go of the port
        Link().line.Close();
        CommandLineDevices().clear();
        SystemPortLister = ListSerialPorts;
    }
};
