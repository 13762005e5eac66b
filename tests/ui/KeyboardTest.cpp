// Every window driven from the keyboard, as users of both platforms expect: each dialog opens
// with the focus on its first field, Enter presses its default button (and its effect happens),
// Escape closes it with no effect, Tab walks its fields in the order they are shown, and no two
// access keys of one window or menu collide.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "FormsFixture.h"
#include "config/Configmsg.h"
#include "proto/Messages.h"
#include "support/PtyPair.h"
#include "support/QtHelpers.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Keyboard.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Noteform.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Waitform.h"

namespace {

// The name a user would know a focused widget by: its own, or that of the compound widget
// (a combo box) whose inner part has the focus.
std::string FieldName(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QStringLiteral("qt_"))) {
            return w->objectName().toStdString();
        }
    }
    return "(none)";
}

std::string FocusName(QWidget* window) {
    return FieldName(window->focusWidget());
}

void Press(QWidget* window, Qt::Key key) {
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QTest::keyClick(target, key);
    QCoreApplication::processEvents();
}

// The fields Tab visits, starting at the focus, until it comes back round.
std::vector<std::string> TabWalk(QWidget* window, Qt::Key key = Qt::Key_Tab) {
    std::vector<std::string> walk{FocusName(window)};
    for (int i = 0; i < 40; ++i) {
        Press(window, key);
        if (FocusName(window) == walk.front()) {
            break;
        }
        walk.push_back(FocusName(window));
    }
    return walk;
}

// `cycle` begun at `first`, as the fields of a window are listed from its top left.
std::vector<std::string> RotatedTo(std::vector<std::string> cycle, const std::string& first) {
    const auto at = std::find(cycle.begin(), cycle.end(), first);
    if (at != cycle.end()) {
        std::rotate(cycle.begin(), at, cycle.end());
    }
    return cycle;
}

struct DialogCase {
    const char* name;
    std::function<QDialog*()> open;         // shows the dialog as its menu does
    std::string firstField;                 // where the focus starts
    std::vector<std::string> tabOrder;      // the fields in the order shown
    std::function<bool()> enterEffect;      // holds once Enter's default button has acted
    std::function<bool()> escapeLeftAlone;  // holds when nothing happened but the closing
};

class KeyboardUse : public FormsTest {
  protected:
    void SetUp() override {
        CreateWithDevices({pty.SlavePath()});
        FormMain->Timer()->stop();
        FormAbout->hide();
    }
    void OpenLink() {
        ASSERT_TRUE(Link().line.Open(pty.SlavePath(), 19200, 0));
        Link().line.SetBlocking(false);
    }
    // Bytes the dialogs have sent since the last call.
    size_t SentBytes() {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return pty.ReceiveAtFarEnd(4096, 50).size();
    }
    QRect Over() const { return BoundsOf(FormMain); }

    PtyPair pty;
};

TEST_F(KeyboardUse, EveryDialogStartsAtItsFirstFieldAcceptsOnEnterClosesOnEscapeAndTabsAsShown) {
    const testsupport::ModalAcceptor notes;  // a note a dialog may show
    const std::string missing = "/nonexistent/receiver.hex";
    const std::vector<DialogCase> cases = {
        {"port",
         [&] {
             FormPort->ShowOver(Over());
             return FormPort;
         },
         "ComboBoxDeviceName",
         // Tab stops once at each Auto/Manual pair: at the pressed one, as at option buttons.
         {"ButtonDeviceNameManual", "ComboBoxDeviceName", "ButtonBaudRateManual", "ComboBoxBaudRate",
          "ButtonOK", "ButtonCancel", "ButtonApply"},
         [] { return Link().line.IsOpen(); },
         [] { return !Link().line.IsOpen(); }},
        {"receiver setup",
         [&] {
             OpenLink();
             FormRcvrPort->ShowOver(Over());
             FormRcvrPort->Edit("EditLCHeight")->setText(QStringLiteral("60"));   // as a receiver's answer
             FormRcvrPort->Edit("EditLCForeAft")->setText(QStringLiteral("12"));  // fills them
             SentBytes();  // the request for the settings
             return FormRcvrPort;
         },
         "ComboBoxBaudRate",
         {"ComboBoxBaudRate",
          "ComboBoxNavRate",
          "ButtonGGA",
          "ButtonGSA",
          "ButtonVTG",
          "ButtonZDA",
          "ButtonRMC",
          "ButtonSNR",
          "ButtonWAASON",
          "ButtonWAASOFF",
          "ButtonCorrectionsOn",
          "ButtonCorrectionsOff",
          "ButtonDflt",
          "ButtonAlt",
          "ButtonTCMOn",
          "ButtonTCMOff",
          "EditLCHeight",
          /* the fore/aft edit: disabled until a receiver says it may be set */ "ButtonTCMForward",
          "ButtonTCMBackward",
          "ButtonOK",
          "ButtonCancel",
          "ButtonApply",
          "ButtonRequest",
          "ButtonSaveFile",
          "ButtonLoadFile"},
         [&] { return SentBytes() > 0; },  // the settings went to the receiver
         [&] { return SentBytes() == 0; }},
        {"hardware information",
         [&] {
             OpenLink();
             FormMDB->ShowOver(Over());
             SentBytes();
             return FormMDB;
         },
         "ButtonOK",
         {"ButtonOK", "ButtonCancel", "ButtonRequest"},
         [&] { return SentBytes() == 0; },  // OK only closes
         [&] { return SentBytes() == 0; }},
        {"calibration",
         [&] {
             OpenLink();
             FormTCMCalibStatus->ShowOver(Over());
             return FormTCMCalibStatus;
         },
         "Button1",
         {"Button1", "Button2"},
         [&] { return FormTCMCalibStatus->isVisible() && SentBytes() > 0; },  // Continue started it
         [&] { return SentBytes() == 0 && !FormTCMCalibStatus->Timer()->isActive(); }},
        {"load software",
         [&] {
             FormLoadSetup->ShowOver(Over());
             FormLoadSetup->SetFileName(QString::fromStdString(missing));
             return FormLoadSetup;
         },
         "EditFileName",
         {"EditFileName", "ButtonSoftwareFile", "ButtonLoad", "ButtonRequest", "ButtonDone", "ButtonHelp",
          "Memo"},
         [] { return FormLoadSetup->Memo()->toPlainText().contains(QStringLiteral("Error opening file")); },
         [] { return !FormLoadSetup->Memo()->toPlainText().contains(QStringLiteral("Error opening file")); }},
        {"help",
         [&] {
             FormHelp->ShowContents(Over());
             return FormHelp;
         },
         "LabelConnection",  // the first topic: Enter opens it
         {"LabelConnection", "Label12", "LabelProgramming", "LabelLogging", "LabelNMEAGGA", "LabelNMEAGSA",
          "LabelNMEAVTG", "LabelNMEAZDA", "LabelNMEARMC", "LabelNMEASNR", "ButtonClose"},
         [] { return FormHelp->windowTitle() == QStringLiteral("Help - Connection Instructions"); },
         [] { return true; }},
        {"accuracy",
         [&] {
             FormAccuracy->ShowBeside(FormMain);
             FormAccuracy->CheckBoxMean()->setChecked(true);
             FormAccuracy->EditReference()->clear();
             FormAccuracy->CheckBoxMean()->setChecked(false);  // no fix, no mean: nothing to take yet
             FormAccuracy->EditReference()->setText(QStringLiteral("48.1173,11.5167,566"));
             return FormAccuracy;
         },
         "ComboBoxFilter",
         {"ComboBoxFilter", "CheckBoxMean", "EditReference", "ButtonApply", "ButtonReset", "ButtonClose"},
         [] { return FormAccuracy->Stats().Reference().has_value(); },  // Apply took the reference
         [] { return !FormAccuracy->Stats().Reference().has_value(); }},
        {"about",
         [&] {
             FormAbout->ShowOver(Over());
             return FormAbout;
         },
         "ButtonClose",
         {"ButtonLicences", "ButtonClose"},
         [] { return true; },
         [] { return true; }},
    };
    for (const DialogCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto openAfresh = [&c] {
            Link().line.Close();
            return c.open();
        };
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            QDialog* dialog = openAfresh();
            ASSERT_TRUE(dialog->isVisible());
            dialog->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
            EXPECT_EQ(FocusName(dialog), c.firstField);
            EXPECT_TRUE(dialog->testAttribute(Qt::WA_KeyboardFocusChange)) << "the focus cue is not shown";
            if (key == Qt::Key_Return) {
                EXPECT_EQ(RotatedTo(TabWalk(dialog), c.tabOrder.front()), c.tabOrder);
                dialog->hide();
                dialog = openAfresh();  // the walk moved the focus
                Press(dialog, key);
                EXPECT_TRUE(c.enterEffect()) << "Enter did not press the default button";
            } else {
                Press(dialog, key);
                EXPECT_FALSE(dialog->isVisible()) << "Escape did not close the dialog";
                EXPECT_TRUE(c.escapeLeftAlone()) << "Escape did more than close the dialog";
            }
            dialog->hide();
            FormTCMCalibStatus->Timer()->stop();
        }
    }
}

// Enter on an item of a combo box's open list picks the item; it does not also accept the
// dialog. Enter typed into the combo box's edit does.
TEST_F(KeyboardUse, EnterInAnOpenComboListPicksTheItemOnly) {
    FormPort->ShowOver(Over());
    QComboBox* rates = FormPort->ComboBoxBaudRate();
    rates->setFocus();
    rates->setCurrentIndex(0);
    rates->showPopup();
    ASSERT_TRUE(testsupport::WaitUntil([rates] { return rates->view()->isVisible(); }, 2000));
    QTest::keyClick(rates->view(), Qt::Key_Down);
    QTest::keyClick(rates->view(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(rates->currentIndex(), 1);
    EXPECT_TRUE(FormPort->isVisible());
    EXPECT_FALSE(Link().line.IsOpen());

    Press(FormPort, Qt::Key_Return);
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_TRUE(Link().line.IsOpen());
    EXPECT_EQ(Link().baudRate, 9600);
}

// The access keys of one window, or of one menu, in which two captions share a key, and the
// captions that should have a key and have none. Computed from the widgets, so that captions
// added later are held to the same rule.
struct AccessKeys {
    std::map<QString, QStringList> byKey;
    QStringList without;

    void Take(const QString& caption, bool needsKey) {
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (!key.isEmpty()) {
            byKey[key.toString()] << ShownCaption(caption);
        } else if (needsKey && !ShownCaption(caption).trimmed().isEmpty()) {
            without << caption;
        }
    }
    QStringList Collisions() const {
        QStringList found;
        for (const auto& [key, captions] : byKey) {
            if (captions.size() > 1) {
                found << key + ": " + captions.join(QStringLiteral(", "));
            }
        }
        return found;
    }
};

// A window's captions: buttons (toggles take their row label's key), labels with a buddy,
// group box titles and its menu bar's titles.
AccessKeys WindowKeys(QWidget* window) {
    AccessKeys keys;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->window() == window && !button->isCheckable()) {
            keys.Take(button->text(), true);
        }
    }
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->window() == window && label->buddy() != nullptr) {
            keys.Take(label->text(), true);
        }
    }
    for (QGroupBox* group : window->findChildren<QGroupBox*>()) {
        if (group->window() == window) {
            keys.Take(group->title(), group->findChild<QLineEdit*>() != nullptr);  // it names a field
        }
    }
    for (QMenuBar* bar : window->findChildren<QMenuBar*>()) {
        for (QAction* title : bar->actions()) {
            keys.Take(title->text(), true);
        }
    }
    return keys;
}

TEST_F(KeyboardUse, NoTwoAccessKeysCollideInAnyWindowOrMenuAndEveryCaptionHasOne) {
    FormTCMCalibStatus->ShowOver(Over());  // its captions come with its first page
    std::vector<std::pair<QString, AccessKeys>> scopes;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->objectName().isEmpty() && !qobject_cast<QMenu*>(window)) {
            scopes.emplace_back(window->objectName(), WindowKeys(window));
        }
    }
    for (QMenu* menu : FormMain->findChildren<QMenu*>()) {
        AccessKeys keys;
        for (QAction* item : menu->actions()) {
            if (!item->isSeparator()) {
                keys.Take(item->text(), true);
            }
        }
        scopes.emplace_back(menu->objectName(), keys);
    }
    int windowsWithKeys = 0;
    for (const auto& [scope, keys] : scopes) {
        EXPECT_TRUE(keys.Collisions().isEmpty())
            << scope.toStdString() << ": " << keys.Collisions().join(QStringLiteral("; ")).toStdString();
        EXPECT_TRUE(keys.without.isEmpty())
            << scope.toStdString() << " has no access key on: " << keys.without.join(", ").toStdString();
        windowsWithKeys += keys.byKey.empty() ? 0 : 1;
    }
    EXPECT_GE(windowsWithKeys, 14);  // main window, 8 dialogs with captions, 5 menus
}

// Alt and a row label's key reach its toggles without pressing one; the toggles tell assistive
// technology their name and whether they are pressed.
TEST_F(KeyboardUse, TogglesAreReachedByTheirRowsKeyAndTellTheirNameAndState) {
    FormRcvrPort->ShowOver(Over());
    FormRcvrPort->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormRcvrPort));
    QToolButton* waasOn = FormRcvrPort->Button("ButtonWAASON");
    waasOn->setChecked(false);
    FormRcvrPort->Button("ButtonWAASOFF")->setChecked(true);
    QTest::keyClick(FormRcvrPort->focusWidget(), Qt::Key_W, Qt::AltModifier);
    EXPECT_EQ(FocusName(FormRcvrPort), "ButtonWAASOFF");
    EXPECT_TRUE(FormRcvrPort->Button("ButtonWAASOFF")->isChecked()) << "the access key pressed the toggle";

    struct Case {
        const char* button;
        bool checked;
        const char* name;
    };
    for (const Case& c : {Case{"ButtonGGA", true, "GGA"}, Case{"ButtonGGA", false, "GGA"},
                          Case{"ButtonWAASON", true, "WAAS ON"}, Case{"ButtonTCMOff", false, "TCM OFF"}}) {
        QToolButton* toggle = FormRcvrPort->Button(c.button);
        toggle->setChecked(c.checked);
        QAccessibleInterface* told = QAccessible::queryAccessibleInterface(toggle);
        ASSERT_NE(told, nullptr);
        EXPECT_EQ(told->text(QAccessible::Name).toStdString(), c.name);
        EXPECT_TRUE(told->state().checkable) << c.button;
        EXPECT_EQ(static_cast<bool>(told->state().checked), c.checked) << c.button;
    }
    QToolButton* portAuto = FormPort->Button("ButtonBaudRateAuto");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(portAuto)->text(QAccessible::Name), "Baud rate Auto");

    // An Auto/Manual pair is one Tab stop; the arrow keys move its choice, and Tab stops at it.
    FormPort->ShowOver(Over());
    FormPort->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormPort));
    FormPort->Button("ButtonBaudRateManual")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(FormPort->focusWidget(), Qt::Key_Left);
    EXPECT_TRUE(portAuto->isChecked());
    EXPECT_EQ(FocusName(FormPort), "ButtonBaudRateAuto");
    EXPECT_FALSE(FormPort->ComboBoxBaudRate()->isEnabled());
    EXPECT_EQ(portAuto->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
}

// Escape in a calibration under way cancels it as Cancel does: the receiver is told, the polls
// stop and the program receives again. (Closing the window alone would leave the polls running.)
TEST_F(KeyboardUse, EscapeInACalibrationUnderWayCancelsIt) {
    OpenLink();
    FormTCMCalibStatus->ShowOver(Over());
    Press(FormTCMCalibStatus, Qt::Key_Return);  // Continue: the first measurement starts
    ASSERT_TRUE(FormTCMCalibStatus->Timer()->isActive());
    ASSERT_FALSE(FormMain->Timer()->isActive());
    SentBytes();

    Press(FormTCMCalibStatus, Qt::Key_Escape);
    uint8_t abort[config::kFrameLength];
    const uint16_t length = BuildConfigFrame(EncodeCalibrationCommand(config::kCalAbort), abort);
    EXPECT_EQ(pty.ReceiveAtFarEnd(length, 1000), std::vector<uint8_t>(abort, abort + length));
    EXPECT_FALSE(FormTCMCalibStatus->Timer()->isActive());
    EXPECT_TRUE(FormMain->Timer()->isActive());
    EXPECT_EQ(FormTCMCalibStatus->LabelStatus(2)->text(), "TCM level calibration process aborted/failed.");
}

// The wait and note windows: Escape and Enter do what their one button does.
TEST_F(KeyboardUse, TheWaitWindowCancelsOnEscapeAndTheNoteClosesOnEnter) {
    int cancelled = 0;
    FormWait->ShowWaitOver(Over(), QStringLiteral("Attempting"));
    FormWait->SetCancelHandler([&cancelled] {
        ++cancelled;
        FormWait->hide();
    });
    Press(FormWait, Qt::Key_Escape);
    EXPECT_EQ(cancelled, 1);
    FormWait->SetCancelHandler(nullptr);

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer::singleShot(50, [key] { Press(FormNote, key); });
        FormNote->ShowMessageOver(Over(), QStringLiteral("Failed to find unit."));
        EXPECT_FALSE(FormNote->isVisible());
        EXPECT_EQ(FormNote->result(), key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
    }
}

}  // namespace
