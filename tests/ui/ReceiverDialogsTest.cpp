// The receiver setup, hardware information and calibration dialogs over a real
// pseudo-terminal: the test plays the receiver at the far end and reads what is sent.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "FormsFixture.h"
#include "config/Configmsg.h"
#include "proto/Bytes.h"
#include "proto/Frame.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Noteform.h"
#include "ui/Rcvrportform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Togglegroup.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t id, const Bytes& payload) {
    Bytes out(payload.size() + 8);
    out.resize(build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), out.data()));
    return out;
}

// A configuration reply as a receiver sends it.
Bytes ConfigReply(uint32_t mask, uint8_t height, uint8_t foreAft, uint8_t calibration = 0,
                  int32_t value = 0) {
    Bytes p(config::kPayloadSize, 0);
    put_le32(p.data() + config::kNmeaMask, mask);
    p[config::kNmeaRate] = 5;
    p[config::kWaasOn] = 1;
    p[config::kAltFreqInUse] = 1;
    put_le32(p.data() + config::kAltChannel, 41000);
    p[config::kTcmOn] = 1;
    p[config::kLcHeight] = height;
    p[config::kForeAftEditable] = 1;
    p[config::kLcForeAft] = foreAft;
    p[config::kTcmForward] = 1;
    p[config::kTcmCalibrated] = 1;
    p[config::kCalibrationCommand] = calibration;
    put_le32(p.data() + config::kCalibrationValue, static_cast<uint32_t>(value));
    return Frame(msgid::kConfig, p);
}

class ReceiverDialogs : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({pty.SlavePath()});
        FormMain->Timer()->stop();
        ASSERT_TRUE(Link().line.Open(pty.SlavePath(), 19200, 0));
        Link().line.SetBlocking(false);
        Link().baudRate = 19200;
    }
    void Receive(const Bytes& bytes) {
        pty.SendFromFarEnd(bytes);
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            FormMain->TimerTimer();
        }
    }
    Bytes Sent(size_t count) { return pty.ReceiveAtFarEnd(count, 1000); }
    void CollectNotes() {
        acceptor = std::make_unique<testsupport::ModalAcceptor>([this](QDialog* d) {
            if (auto* note = qobject_cast<TFormNote*>(d)) {
                notes.push_back(note->Label()->text().toStdString());
            } else if (auto* box = qobject_cast<QMessageBox*>(d)) {
                notes.push_back("error: " + box->text().toStdString());
            }
        });
    }
    QToolButton* Btn(const char* name) { return FormRcvrPort->Button(name); }

    PtyPair pty;
    std::vector<std::string> notes;
    std::unique_ptr<testsupport::ModalAcceptor> acceptor;
};

TEST_F(ReceiverDialogs, SetupStartsShrunkWithoutBinaryMessagesAndNotDone) {
    EXPECT_EQ(FormRcvrPort->windowTitle(), "Receiver Setup");
    EXPECT_EQ(FormRcvrPort->LabelTCMStatus()->text(), "(TCM Level Calibration Status:  Not Done)");
    EXPECT_EQ(FormRcvrPort->ComboBoxBaudRate()->currentText(), "19200");
    auto* binary = FormRcvrPort->findChild<QWidget*>("PanelBinMsgs");
    auto* bottom = FormRcvrPort->findChild<QWidget*>("PanelBottom");
    EXPECT_TRUE(binary->isHidden());
    EXPECT_EQ(bottom->y(), binary->y());
    EXPECT_EQ(FormRcvrPort->height(), bottom->y() + bottom->height() + 8);  // margin = smallest top
}

TEST_F(ReceiverDialogs, OpeningRequestsSettingsAndTheReplyFillsTheControlsOnce) {
    FormRcvrPort->ShowOver(QRect(0, 0, 800, 600));
    uint8_t request[12];
    build_request_frame(216, 6, 0, request);
    EXPECT_EQ(Sent(12), Bytes(request, request + 12));
    Receive(ConfigReply(0x15, 72, 12));
    EXPECT_TRUE(Btn("ButtonGGA")->isChecked());
    EXPECT_FALSE(Btn("ButtonGSA")->isChecked());
    EXPECT_TRUE(Btn("ButtonZDA")->isChecked());
    EXPECT_TRUE(Btn("ButtonRMC")->isChecked());
    EXPECT_EQ(FormRcvrPort->ComboBoxNavRate()->currentText(), "5");
    EXPECT_TRUE(Btn("ButtonAlt")->isChecked());
    EXPECT_EQ(FormRcvrPort->Edit("EditChannelNum")->text(), "1545.5");
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "72");
    EXPECT_EQ(FormRcvrPort->LabelTCMStatus()->text(), "(TCM Level Calibration Status:  Done)");
    EXPECT_FALSE(FormRcvrPort->RefreshPending);

    // A reply that nobody asked for updates the settings but leaves the user's controls.
    FormRcvrPort->Edit("EditLCHeight")->setText("99");
    Receive(ConfigReply(0x01, 33, 12));
    EXPECT_EQ(FormRcvrPort->settings.LcHeight, 33);
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "99");
    // Request overwrites every control again.
    FormRcvrPort->ButtonRequestClick();
    Receive(ConfigReply(0x01, 33, 12));
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "33");
}

TEST_F(ReceiverDialogs, FramesGoToTheLoaderFirstThenCalibrationOnlyWithAState) {
    std::vector<std::string> order;
    FormRcvrPort->forwardToLoader = [&](const uint8_t*, int32_t) { order.push_back("loader"); };
    FormTCMCalibStatus->ShowOver(QRect(0, 0, 800, 600));
    Receive(ConfigReply(0x01, 10, 10, 0));
    EXPECT_EQ(order, (std::vector<std::string>{"loader"}));
    EXPECT_EQ(FormTCMCalibStatus->Wizard().Step(), CalibrationStep::FirstPosition);
    Receive(ConfigReply(0x01, 10, 10, config::kCalFirstDone));
    EXPECT_EQ(order.size(), 2u);
    EXPECT_EQ(FormTCMCalibStatus->Wizard().Step(), CalibrationStep::SecondPosition);
}

TEST_F(ReceiverDialogs, ApplyValidatesBeforeSendingAnything) {
    CollectNotes();
    FormRcvrPort->ButtonApplyClick();  // no reply yet: height and fore/aft show 0
    Receive(ConfigReply(0x01, 50, 0));
    FormRcvrPort->ButtonRequestClick();
    Sent(12);
    Receive(ConfigReply(0x01, 50, 0));
    FormRcvrPort->Edit("EditLCForeAft")->setEnabled(false);  // disabled, still validated
    FormRcvrPort->ButtonApplyClick();
    FormRcvrPort->Edit("EditLCForeAft")->setText("12");
    Btn("ButtonAlt")->setChecked(true);
    FormRcvrPort->Edit("EditChannelNum")->setText("");
    FormRcvrPort->show();
    FormRcvrPort->ButtonOKClick();  // conversion error: the dialog stays open
    EXPECT_TRUE(FormRcvrPort->isVisible());
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0], kHeightMessage);
    EXPECT_EQ(notes[1], kForeAftMessage);
    EXPECT_EQ(notes[2].rfind("error: ", 0), 0u);
    EXPECT_TRUE(Sent(1).empty());
}

TEST_F(ReceiverDialogs, ApplySendsTheFrameThenThePortFollowsTheNewRate) {
    const ScratchSettings stored;
    FormRcvrPort->ButtonRequestClick();
    Sent(12);
    Receive(ConfigReply(0x01, 50, 20));
    FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormRcvrPort->ButtonApplyClick();
    const Bytes frame = Sent(config::kFrameLength);
    ASSERT_EQ(frame.size(), config::kFrameLength);
    EXPECT_EQ(get_le32(frame.data() + 6 + config::kBaudRate), 38400u);
    EXPECT_EQ(frame[6 + config::kLcForeAft], 20);
    EXPECT_EQ(Link().baudRate, 38400);
    EXPECT_TRUE(FormMain->StatusPanel(0)->text().contains(" : 38400 : Open"));
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "38400");
    EXPECT_TRUE(FormRcvrPort->RefreshPending);
    // The next run's port dialog offers the rate the receiver now answers at.
    const auto remembered = StoredPortChoice();
    ASSERT_TRUE(remembered.has_value());
    EXPECT_EQ(remembered->device, pty.SlavePath());
    EXPECT_EQ(remembered->baudRate, 38400);
}

// A pressed toggle is filled with the highlight colour in every style, a raised one is not,
// and each is wide enough for its caption beside the tick.
TEST_F(ReceiverDialogs, PressedTogglesAreUnmistakableInEveryStyleAndUnclipped) {
    std::vector<QToolButton*> toggles;
    for (QDialog* dialog : {static_cast<QDialog*>(FormRcvrPort), static_cast<QDialog*>(FormPort)}) {
        for (QToolButton* b : dialog->findChildren<QToolButton*>()) {
            if (b->isVisibleTo(dialog)) {  // not the binary messages, which are never shown
                toggles.push_back(b);
            }
        }
    }
    ASSERT_EQ(toggles.size(), 6u + 10 + 4);  // NMEA, the pairs; the port dialog's
    // The share of a button's pixels in the highlight colour.
    const auto highlighted = [](QToolButton* b) {
        const QImage image = b->grab().toImage();
        const QRgb fill = b->palette().color(QPalette::Active, QPalette::Highlight).rgb();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                count += image.pixel(x, y) == fill ? 1 : 0;
            }
        }
        return static_cast<double>(count) / (image.width() * image.height());
    };
    for (const QString& key : QStyleFactory::keys()) {
        std::unique_ptr<QStyle> style(QStyleFactory::create(key));
        for (QToolButton* b : toggles) {
            const bool exclusive = b->autoExclusive();
            b->setAutoExclusive(false);  // so that the pressed one of a pair can be raised
            b->setStyle(style.get());
            EXPECT_LE(CheckedStateWidth(b), b->width()) << b->objectName().toStdString();
            b->setChecked(false);
            EXPECT_LT(highlighted(b), 0.05) << key.toStdString() << " " << b->objectName().toStdString();
            b->setChecked(true);
            EXPECT_GT(highlighted(b), 0.4) << key.toStdString() << " " << b->objectName().toStdString();
            b->setStyle(nullptr);
            b->setAutoExclusive(exclusive);
        }
    }
}

TEST_F(ReceiverDialogs, TypedBaudRateFallsBackTo19200AndAClosedPortCannotFollow) {
    FormRcvrPort->ComboBoxBaudRate()->setEditText("1234");
    FormRcvrPort->CollectSettings();
    EXPECT_EQ(FormRcvrPort->settings.BaudRate, 19200);
    EXPECT_EQ(FormRcvrPort->ComboBoxBaudRate()->currentText(), "19200");

    Link().line.Close();
    FormRcvrPort->Edit("EditLCHeight")->setText("10");
    FormRcvrPort->Edit("EditLCForeAft")->setText("10");
    FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(0);
    CollectNotes();
    FormRcvrPort->ButtonApplyClick();
    EXPECT_EQ(notes, (std::vector<std::string>{"Error changing baud rate"}));
    EXPECT_EQ(Link().baudRate, 19200);
}

TEST_F(ReceiverDialogs, HardwareInformationShowsTheReplyAndIgnoresShortOnes) {
    FormMDB->ShowOver(QRect(0, 0, 800, 600));
    uint8_t request[12];
    build_request_frame(218, 6, 0, request);
    EXPECT_EQ(Sent(12), Bytes(request, request + 12));
    EXPECT_TRUE(FormMDB->ValueLabel("Label_SN")->text().isEmpty());
    Bytes p(64, 0);
    put_le32(p.data(), 0xFFFFFFFFu);
    std::copy_n("ABCDEFGHIJKLMNOP", 16, p.begin() + 4);
    std::copy_n("C0102", 5, p.begin() + 24);
    put_le32(p.data() + 60, 3);
    Receive(Frame(218, p));
    EXPECT_EQ(FormMDB->ValueLabel("Label_SN")->text(), "-1");
    EXPECT_EQ(FormMDB->ValueLabel("Label_PN")->text(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(FormMDB->ValueLabel("Label_CN")->text(), "C0102");
    EXPECT_EQ(FormMDB->ValueLabel("Label_VN")->text(), "3");
    Receive(Frame(218, Bytes(20, 0x41)));  // short: ignored
    EXPECT_EQ(FormMDB->ValueLabel("Label_VN")->text(), "3");
    FormMDB->ShowOver(QRect(0, 0, 800, 600));  // reopening starts from empty labels
    EXPECT_TRUE(FormMDB->ValueLabel("Label_PN")->text().isEmpty());
}

TEST_F(ReceiverDialogs, CalibrationStopsTheReceiveTimerWhileMeasuringAndShowsTheValue) {
    FormMain->Timer()->start();
    FormTCMCalibStatus->ShowOver(QRect(0, 0, 800, 600));
    FormTCMCalibStatus->Button1Click();
    const Bytes start = Sent(config::kFrameLength);
    ASSERT_EQ(start.size(), config::kFrameLength);
    EXPECT_EQ(start[6 + config::kCalibrationCommand], config::kCalStartFirst);
    EXPECT_EQ(start[6 + config::kCommand], 0);
    EXPECT_FALSE(FormMain->Timer()->isActive());
    EXPECT_TRUE(FormTCMCalibStatus->Timer()->isActive());
    EXPECT_EQ(FormTCMCalibStatus->Timer()->interval(), 250);
    FormTCMCalibStatus->TimerTimer();
    EXPECT_EQ(Sent(config::kFrameLength)[6 + config::kCalibrationCommand], config::kCalPoll);

    FormMain->Timer()->stop();
    Receive(ConfigReply(0, 1, 1, config::kCalComplete, -7));
    EXPECT_TRUE(FormMain->Timer()->isActive());
    EXPECT_FALSE(FormTCMCalibStatus->Timer()->isActive());
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(3)->text(), "        -0.63");
    EXPECT_EQ(FormTCMCalibStatus->Button1()->text(), "&OK");
    EXPECT_TRUE(FormTCMCalibStatus->Button2()->isHidden());
}

TEST_F(ReceiverDialogs, CalibrationContinuesOnlyOnceTheFirstMeasurementsAnswersHaveEnded) {
    FormTCMCalibStatus->ShowOver(QRect(0, 0, 800, 600));
    FormTCMCalibStatus->Button1Click();
    ASSERT_EQ(Sent(config::kFrameLength).size(), config::kFrameLength);
    FormMain->Timer()->stop();
    Receive(ConfigReply(0, 1, 1, config::kCalFirstDone));
    EXPECT_FALSE(FormTCMCalibStatus->Button1()->isEnabled());
    FormTCMCalibStatus->Button1Click();  // while answers to earlier polls still arrive: nothing
    Receive(ConfigReply(0, 1, 1, config::kCalFirstDone));
    EXPECT_TRUE(pty.ReceiveAtFarEnd(1, 100).empty());

    ASSERT_TRUE(testsupport::WaitUntil([] { return FormTCMCalibStatus->Button1()->isEnabled(); }, 2000));
    FormTCMCalibStatus->Button1Click();
    EXPECT_EQ(Sent(config::kFrameLength)[6 + config::kCalibrationCommand], config::kCalStartSecond);
    EXPECT_EQ(FormTCMCalibStatus->Wizard().Step(), CalibrationStep::SecondMeasuring);
    EXPECT_TRUE(FormTCMCalibStatus->Timer()->isActive());
}

}  // namespace

// Save to File writes what Apply would send; Load from File fills the controls and sends
// nothing; a refused file names its key and changes no control.
TEST_F(ReceiverDialogs, ASetupFileKeepsWhatApplySendsAndALoadedOneOnlyFillsTheControls) {
    const ScratchSettings scratch;
    const std::string dir = scratch.Folder("setup");
    const QString file = QString::fromStdString(dir + "/receiver.json");
    CollectNotes();
    FormRcvrPort->ButtonRequestClick();
    Sent(12);
    Receive(ConfigReply(0x15, 72, 12));
    FormRcvrPort->chooseSaveFile = [&] { return file; };
    FormRcvrPort->findChild<QPushButton*>("ButtonSaveFile")->click();
    ASSERT_TRUE(notes.empty()) << notes.front();

    FormRcvrPort->Edit("EditLCHeight")->setText("99");
    Btn("ButtonGSA")->setChecked(true);
    Btn("ButtonDflt")->setChecked(true);
    Btn("ButtonAlt")->setChecked(false);
    FormRcvrPort->chooseLoadFile = [&] { return file; };
    FormRcvrPort->findChild<QPushButton*>("ButtonLoadFile")->click();
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "72");
    EXPECT_FALSE(Btn("ButtonGSA")->isChecked());
    EXPECT_TRUE(Btn("ButtonAlt")->isChecked());
    EXPECT_EQ(FormRcvrPort->Edit("EditChannelNum")->text(), "1545.5");
    EXPECT_TRUE(Sent(1).empty()) << "loading sends nothing";

    QFile edited(file);
    ASSERT_TRUE(edited.open(QIODevice::ReadWrite));
    QByteArray text = edited.readAll().replace("\"height\": 72", "\"height\": 0");
    edited.resize(0);
    edited.write(text);
    edited.close();
    FormRcvrPort->Edit("EditLCHeight")->setText("99");
    FormRcvrPort->findChild<QPushButton*>("ButtonLoadFile")->click();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Setup file receiver.json refused: settings.height: 0 is out of range (1 to 200)");
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "99");

    // What Apply refuses is not saved either.
    FormRcvrPort->Edit("EditLCHeight")->setText("0");
    FormRcvrPort->findChild<QPushButton*>("ButtonSaveFile")->click();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1], kHeightMessage);

    // A byte-order mark is skipped; a file with nothing to read says why, as lctrovi says it.
    const std::string marked = dir + "/marked.json";
    const std::string empty = dir + "/empty.json";
    std::ofstream(empty, std::ios::binary);  // an empty file
    QFile bom(QString::fromStdString(marked));
    ASSERT_TRUE(bom.open(QIODevice::WriteOnly));
    bom.write("\xEF\xBB\xBF" + text.replace("\"height\": 0", "\"height\": 72"));
    bom.close();
    const std::pair<std::string, std::string> loads[] = {
        {marked, ""},
        {dir + "/missing.json",
         "Error reading setup file " + dir + "/missing.json: No such file or directory"},
        {empty, "Error reading setup file " + empty + ": it is empty"},
        {dir, "Error reading setup file " + dir + ": it is a folder"},
    };
    for (const auto& [path, note] : loads) {
        notes.clear();
        FormRcvrPort->chooseLoadFile = [&, path = path] { return QString::fromStdString(path); };
        FormRcvrPort->findChild<QPushButton*>("ButtonLoadFile")->click();
        EXPECT_EQ(notes.empty() ? "" : notes.front(), note);
    }
    EXPECT_EQ(FormRcvrPort->Edit("EditLCHeight")->text(), "72");
}
