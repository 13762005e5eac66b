// The port dialog's search finds the simulated receiver at each rate it may run at, with the
// real clock: at rates other than its own the receiver's answers arrive garbled.
#include <QComboBox>
#include <QLabel>
#include <QToolButton>

#include "E2EFixture.h"
#include "ui/Noteform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"

namespace {

class FoundAtRate : public E2ETest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(FoundAtRate, AutoAutoEndsOpenAtTheReceiversDeviceAndRate) {
    SimOptions options;
    options.settings.baudRate = GetParam();
    StartSim(options);
    FormPort->Button("ButtonDeviceNameAuto")->click();
    FormPort->Button("ButtonBaudRateAuto")->click();
    FormPort->ShowOver(BoundsOf(FormMain));
    FormPort->ButtonOKClick();
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormPort->Searching(); }, 15000));
    const std::string rate = std::to_string(GetParam());
    EXPECT_EQ(FormMain->StatusPanel(0)->text().toStdString(), sim->DevicePath() + " : " + rate + " : Open");
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText().toStdString(), rate);
    EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText().toStdString(), sim->DevicePath());
    EXPECT_EQ(Link().baudRate, static_cast<int32_t>(GetParam()));
    EXPECT_EQ(FormRcvrPort->ComboBoxBaudRate()->currentText().toStdString(), rate);  // setup dialog follows
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_FALSE(FormWait->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Rates, FoundAtRate, ::testing::Values(4800u, 9600u, 19200u, 38400u));

TEST_F(E2ETest, AReceiverOfOtherTalkersIsNotFound) {
    SimOptions options;
    options.faults.otherTalkersOnly = true;
    StartSim(options);
    FormPort->Button("ButtonBaudRateAuto")->click();
    std::string note;
    testsupport::ModalAcceptor acceptor(
        [&](QDialog* d) { note = static_cast<TFormNote*>(d)->Label()->text().toStdString(); });
    FormPort->ButtonApplyClick();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return !note.empty(); }, 15000));
    EXPECT_EQ(note, "Failed to find unit.");
    EXPECT_FALSE(FormPort->Searching());
}

}  // namespace
