// The windows with a receiver on the network: an address typed into the port dialog opens a
// line through Debian's ser2net (in front of the simulated receiver), is kept in the list and
// the remembered settings, shows in the status bar as typed, and carries a whole software
// load through the loading window; a fixed-rate line refuses the load, a search over rates and
// a baud change before sending a byte.
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "E2EFixture.h"
#include "link/Netaddress.h"
#include "loader/SrecText.h"
#include "support/Ser2net.h"
#include "ui/Loadsetupform.h"
#include "ui/Noteform.h"
#include "ui/Rcvrportform.h"
#include "ui/Storedsettings.h"

namespace {

class NetE2ETest : public E2ETest {
  protected:
    void SetUp() override {
        if (Ser2net::Program().empty()) {
            GTEST_SKIP() << "ser2net is not installed";
        }
    }
    // The simulator behind the server, the address typed into the dialog and applied.
    void ServeAndApplyTyped(const SimOptions& options, bool rfc2217) {
        StartSim(options);
        ASSERT_TRUE(server.Start(sim->DevicePath(), rfc2217)) << server.LastError();
        FormPort->ComboBoxDeviceName()->setEditText(QString::fromStdString(server.Address()));
        FormPort->ButtonApplyClick();
        ASSERT_TRUE(Link().line.IsOpen()) << Link().line.LastErrorText();
    }
    void TearDown() override {
        UseNoSettings();
        E2ETest::TearDown();
        server.Kill();
    }
    std::string WriteImage(const std::vector<uint8_t>& data) const {
        std::string image =
            std::filesystem::temp_directory_path() / ("lct-e2e-net-" + std::to_string(getpid()) + ".hex");
        std::ofstream(image, std::ios::binary) << MakeSrecImage({{kLowest, data}}, "\r\n");
        return image;
    }
    void StartLoad(const std::string& image) const {
        FormMain->Action("MenuLoad")->trigger();
        FormLoadSetup->SetFileName(QString::fromStdString(image));
        FormLoadSetup->ButtonLoadClick();
    }

    static constexpr uint32_t kLowest = 0x00020000;
    Ser2net server;
};

TEST_F(NetE2ETest, ATypedAddressIsKeptShownAndCarriesAWholeLoad) {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;
    const std::string settingsFile =
        std::filesystem::temp_directory_path() / ("lct-e2e-net-" + std::to_string(getpid()) + ".ini");
    UseSettingsFile(QString::fromStdString(settingsFile));
    ServeAndApplyTyped(options, true);
    const QString address = QString::fromStdString(server.Address());
    EXPECT_EQ(Link().portName, server.Address());
    EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText(), address);
    EXPECT_GE(FormPort->ComboBoxDeviceName()->findText(address), 0);
    ASSERT_TRUE(StoredPortChoice().has_value());
    EXPECT_EQ(StoredPortChoice()->device, server.Address());
    EXPECT_EQ(FormMain->StatusPanel(0)->text(), address + " : 19200 : Open");
    EXPECT_EQ(PortDialogDevices({}).back(), server.Address());  // offered again next time
    UseNoSettings();
    std::filesystem::remove(settingsFile);

    const std::vector<uint8_t> data = RandomBytes(3000, 5);
    const std::string image = WriteImage(data);
    QObject::connect(FormLoadSetup, &TFormLoadSetup::panelShown, [&] {
        if (FormLoadSetup->PanelLine(1)->text() == "Cycle Power on the Receiver Now!") {
            sim->PowerCycle();
        }
    });
    StartLoad(image);
    ASSERT_TRUE(FormLoadSetup->Running());
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 90000));
    EXPECT_EQ(FormLoadSetup->Memo()->toPlainText(), "Communication Re-established. Ver # Rcvd.");
    const SimImage programmed = sim->ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->second, data);
    EXPECT_EQ(Link().baudRate, 19200);
    EXPECT_EQ(sim->LineBaud(), 19200u);
    std::filesystem::remove(image);
}

// A server that goes away while the window only receives: the window says so in the status
// bar and the display, tries again every two seconds, and goes on showing sentences once the
// server is back. Prints the time from the server's return to the first sentence shown.
TEST_F(NetE2ETest, TheWindowReconnectsWhenTheServerComesBack) {
    ServeAndApplyTyped({}, true);
    const std::string where = server.Address().substr(server.Address().find("//") + 2);
    const QString lost = QString::fromStdString("Connection to " + where + " lost; reconnecting...");
    const auto shown = [](const QString& text) { return FormMain->Memo()->toPlainText().contains(text); };
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shown("$GPGGA"); }, 5000));
    server.Kill();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return shown(lost); }, 5000));
    EXPECT_EQ(FormMain->StatusPanel(0)->text(), lost);
    RunFor(2500);  // tries meet a closed port
    EXPECT_FALSE(shown(QStringLiteral("back")));
    ASSERT_TRUE(server.Start(sim->DevicePath(), true, false, server.Port())) << server.LastError();
    const auto returned = std::chrono::steady_clock::now();
    const int before = FormMain->Memo()->toPlainText().count(QStringLiteral("$GP"));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return FormMain->Memo()->toPlainText().count(QStringLiteral("$GP")) > before; }, 10000));
    std::printf("first sentence %lld ms after the server's return\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - returned)
                                           .count()));
    EXPECT_TRUE(shown(QString::fromStdString("Connection to " + where + " back")));
    EXPECT_TRUE(FormMain->StatusPanel(0)->text().endsWith(": Open"));
}

TEST_F(NetE2ETest, AFixedRateLineRefusesEveryRateChangeBeforeTheReceiverHearsOfIt) {
    ServeAndApplyTyped({}, false);
    const std::string image = WriteImage(RandomBytes(600, 3));
    StartLoad(image);
    EXPECT_FALSE(FormLoadSetup->Running());
    EXPECT_EQ(FormLoadSetup->Memo()->toPlainText().toStdString(), FixedRateText(server.Address()));
    RunFor(300);
    EXPECT_TRUE(sim->RamImage().empty());
    std::filesystem::remove(image);
    FormLoadSetup->hide();

    // Neither a search over rates nor a baud change in the setup dialog gets as far as the line.
    std::vector<std::string> notes;
    testsupport::ModalAcceptor acceptor(
        [&](QDialog* d) { notes.push_back(static_cast<TFormNote*>(d)->Label()->text().toStdString()); });
    FormPort->Button("ButtonBaudRateAuto")->click();
    FormPort->ButtonApplyClick();
    EXPECT_FALSE(FormPort->Searching());
    FormPort->Button("ButtonBaudRateManual")->click();
    FormRcvrPort->ShowOver(BoundsOf(FormMain));
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormRcvrPort->RefreshPending; }, 5000));
    FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormRcvrPort->ButtonApplyClick();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return notes.size() >= 2; }, 5000));
    EXPECT_EQ(notes, std::vector<std::string>(2, FixedRateText(server.Address())));
    RunFor(300);
    EXPECT_EQ(Link().baudRate, 19200);
    EXPECT_EQ(sim->Settings().baudRate, 19200u);
    EXPECT_EQ(sim->LineBaud(), 19200u);
}

}  // namespace
