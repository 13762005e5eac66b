// A whole software load through the real loading window against the simulated receiver, in
// real time: bootloader, 57600 baud, blocks, CRC checks, programming, the power cycle and the
// new version, and everything restored afterwards.
#include <unistd.h>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <filesystem>
#include <fstream>

#include "E2EFixture.h"
#include "loader/SrecText.h"
#include "ui/Loadsetupform.h"

namespace {

TEST_F(E2ETest, AWholeLoadThroughTheWindowProgramsTheImageAndShowsTheNewVersion) {
    SimOptions options;
    options.timing.programMs = 1500;
    options.timing.workingIntervalMs = 500;
    options.timing.powerCycleAfterMs = 0;  // the user cycles the power when the window says so
    StartSim(options);
    FormPort->ButtonApplyClick();  // the simulator's device at 19200
    ASSERT_TRUE(Link().line.IsOpen());

    const std::vector<uint8_t> data = RandomBytes(3000, 5);
    const uint32_t lowest = 0x00020000;
    const std::string image =
        std::filesystem::temp_directory_path() / ("lct-e2e-load-" + std::to_string(getpid()) + ".hex");
    std::ofstream(image, std::ios::binary) << MakeSrecImage({{lowest, data}}, "\r\n");

    FormMain->Action("MenuLoad")->trigger();
    ASSERT_TRUE(
        testsupport::WaitUntil([] { return FormLoadSetup->LabelVersion()->text() == "1.0SIM"; }, 5000));
    FormLoadSetup->SetFileName(QString::fromStdString(image));
    FormLoadSetup->ButtonLoadClick();
    ASSERT_TRUE(FormLoadSetup->Running());
    EXPECT_FALSE(FormMain->menuBar()->isEnabled());

    QStringList statuses;
    bool askedToCyclePower = false;
    // The user cycles the power when the window asks for it.
    QObject::connect(FormLoadSetup, &TFormLoadSetup::panelShown, [&] {
        if (FormLoadSetup->PanelLine(1)->text() == "Cycle Power on the Receiver Now!") {
            askedToCyclePower = true;
            sim->PowerCycle();
        }
    });
    // Every status the window shows, in order.
    QObject::connect(FormLoadSetup->Memo(), &QPlainTextEdit::textChanged, [&] {
        const QString text = FormLoadSetup->Memo()->toPlainText();
        if (!text.isEmpty() && (statuses.isEmpty() || statuses.back() != text)) {
            statuses << text;
        }
    });
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormLoadSetup->Running(); }, 90000));
    EXPECT_TRUE(askedToCyclePower);

    EXPECT_EQ(FormLoadSetup->Memo()->toPlainText(), "Communication Re-established. Ver # Rcvd.")
        << statuses.join(" | ").toStdString();
    const SimImage programmed = sim->ProgrammedImage();
    ASSERT_EQ(programmed.size(), 1u);
    EXPECT_EQ(programmed.begin()->first, lowest);
    EXPECT_EQ(programmed.begin()->second, data);
    // Restored: the main window receives again at 19200 and the new version is shown.
    EXPECT_TRUE(FormMain->menuBar()->isEnabled());
    EXPECT_EQ(Link().baudRate, 19200);
    EXPECT_TRUE(FormLoadSetup->PanelDoNotClose()->isHidden());
    ASSERT_TRUE(
        testsupport::WaitUntil([] { return FormLoadSetup->LabelVersion()->text() == "1.1SIM"; }, 5000));
    EXPECT_EQ(FormLoadSetup->ProgressBar()->value(), FormLoadSetup->ProgressBar()->maximum());
    std::filesystem::remove(image);
}

}  // namespace
