// The receiver dialogs against the simulated receiver: settings read and applied (the link
// following a baud change), the hardware identity, and the level calibration.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "E2EFixture.h"
#include "ui/Mdbform.h"
#include "ui/Rcvrportform.h"
#include "ui/Tcmcalibstatusform.h"

namespace {

class ReceiverE2E : public E2ETest {
  protected:
    void Open(SimOptions options) {
        StartSim(options);
        FormPort->ButtonApplyClick();  // the simulator's device, manual, at 19200
        ASSERT_TRUE(Link().line.IsOpen());
    }
    // The number of sentences beginning with `prefix` the receiver sent after `fromMs`.
    int SentSince(int64_t fromMs, const std::string& prefix) {
        int n = 0;
        for (const auto& e : sim->Record()) {
            if (e.direction == SimDirection::kSent && e.kind == SimKind::kSentence && e.timeMs >= fromMs &&
                std::string(e.bytes.begin(), e.bytes.end()).rfind(prefix, 0) == 0) {
                ++n;
            }
        }
        return n;
    }
    int64_t LastRecordMs() {
        const auto record = sim->Record();
        return record.empty() ? 0 : record.back().timeMs;
    }
};

TEST_F(ReceiverE2E, SetupShowsTheReceiversSettingsAndApplyChangesThem) {
    Open({});
    FormMain->Action("MenuRcvrPort")->trigger();
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormRcvrPort->RefreshPending; }, 5000));
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "60");
    EXPECT_EQ(FormRcvrPort->Edit("EditLCForeAft")->text(), "12");
    EXPECT_TRUE(FormRcvrPort->Button("ButtonGGA")->isChecked());
    EXPECT_TRUE(FormRcvrPort->Button("ButtonRMC")->isChecked());
    EXPECT_FALSE(FormRcvrPort->Button("ButtonGSA")->isChecked());
    EXPECT_TRUE(FormRcvrPort->Button("ButtonWAASON")->isChecked());

    FormRcvrPort->Button("ButtonGSA")->click();
    FormRcvrPort->Button("ButtonRMC")->click();
    FormRcvrPort->ComboBoxNavRate()->setCurrentIndex(1);
    FormRcvrPort->Edit("EditLCHeight")->setText("72");
    FormRcvrPort->ButtonApplyClick();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim->Settings().nmeaMask == 0x03u; }, 3000));
    EXPECT_EQ(sim->Settings().nmeaRate, 5);
    EXPECT_EQ(sim->Settings().lcHeight, 72);
    const int64_t applied = LastRecordMs();
    RunFor(2200);
    EXPECT_GE(SentSince(applied, "$GPGSA"), 8);  // five a second now
    EXPECT_EQ(SentSince(applied + 500, "$GPRMC"), 0);
}

TEST_F(ReceiverE2E, TheLinkFollowsABaudChangeAndSentencesKeepArriving) {
    Open({});
    FormRcvrPort->ShowOver(BoundsOf(FormMain));
    ASSERT_TRUE(testsupport::WaitUntil([] { return !FormRcvrPort->RefreshPending; }, 5000));
    FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormRcvrPort->ButtonApplyClick();
    EXPECT_EQ(Link().baudRate, 38400);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim->LineBaud() == 38400u; }, 3000));
    const int before = FormMain->messageCount;
    RunFor(2500);
    EXPECT_GE(FormMain->messageCount - before, 3);
    const QString last = FormMain->Memo()->toPlainText().section('\n', -1);
    EXPECT_TRUE(last.mid(10).startsWith("$GP")) << last.toStdString();
    EXPECT_TRUE(FormMain->StatusPanel(0)->text().endsWith(" : 38400 : Open"));
}

TEST_F(ReceiverE2E, HardwareInformationShowsTheReceiversIdentity) {
    Open({});
    FormMain->Action("MenuMDB")->trigger();
    ASSERT_TRUE(testsupport::WaitUntil([] { return FormMDB->received.has_value(); }, 5000));
    EXPECT_EQ(FormMDB->ValueLabel("Label_SN")->text(), "5200417");
    EXPECT_EQ(FormMDB->ValueLabel("Label_PN")->text(), "LT-2000-0100");
    EXPECT_EQ(FormMDB->ValueLabel("Label_VN")->text(), "3");
    EXPECT_EQ(FormMDB->ValueLabel("Label_CN")->text(), "C0102");
}

SimOptions QuickCalibration() {
    SimOptions options;
    options.timing.calibrationMs = 400;
    options.calibrationValue = 100;
    return options;
}

TEST_F(ReceiverE2E, AFullCalibrationRunEndsWithTheValue) {
    Open(QuickCalibration());
    FormMain->Action("MenuTCM")->trigger();
    FormTCMCalibStatus->Button1Click();
    ASSERT_TRUE(testsupport::WaitUntil(
        [] { return FormTCMCalibStatus->Wizard().Step() == CalibrationStep::SecondPosition; }, 8000));
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(1)->text(), "Position vehicle in the opposite direction");
    EXPECT_TRUE(FormMain->Timer()->isActive());
    // Continue comes back once the answers to the first measurement's polls have ended.
    ASSERT_TRUE(testsupport::WaitUntil([] { return FormTCMCalibStatus->Button1()->isEnabled(); }, 3000));
    FormTCMCalibStatus->Button1Click();
    ASSERT_TRUE(testsupport::WaitUntil(
        [] { return FormTCMCalibStatus->Wizard().Step() == CalibrationStep::Finished; }, 8000));
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(1)->text(), "TCM calibration complete.");
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(3)->text(), "        9");
    EXPECT_EQ(sim->Calibration(), CalPhase::kComplete);
    EXPECT_TRUE(FormMain->Timer()->isActive());
    FormTCMCalibStatus->Button1Click();
    EXPECT_FALSE(FormTCMCalibStatus->isVisible());
}

TEST_F(ReceiverE2E, AnAbortedCalibrationIsAbortedOnTheReceiverToo) {
    Open(QuickCalibration());
    FormTCMCalibStatus->ShowOver(BoundsOf(FormMain));
    FormTCMCalibStatus->Button1Click();
    RunFor(300);
    FormTCMCalibStatus->Button2Click();
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(2)->text(), "TCM level calibration process aborted/failed.");
    EXPECT_TRUE(FormMain->Timer()->isActive());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sim->Calibration() == CalPhase::kIdle; }, 3000));
}

TEST_F(ReceiverE2E, AMovingVehicleIsToldToStop) {
    SimOptions options = QuickCalibration();
    options.vehicleMoving = true;
    Open(options);
    FormTCMCalibStatus->ShowOver(BoundsOf(FormMain));
    FormTCMCalibStatus->Button1Click();
    ASSERT_TRUE(testsupport::WaitUntil(
        [] {
            return FormTCMCalibStatus->LabelStatus(3)->text() == "The vehicle must be stopped to calibrate.";
        },
        8000));
    EXPECT_TRUE(FormTCMCalibStatus->Button1()->isHidden());
    EXPECT_EQ(FormTCMCalibStatus->Button2()->text(), "&Cancel");
}

}  // namespace
