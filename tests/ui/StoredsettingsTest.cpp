// What the program remembers between runs, in a scratch settings file: where each window
// stood, the folders of the file dialogs; and that a damaged file only costs the defaults.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <filesystem>
#include <fstream>
#include <functional>

#include "FormsFixture.h"
#include "support/QtHelpers.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Memoutils.h"
#include "ui/Rcvrportform.h"
#include "ui/Scaleutils.h"
#include "ui/Statusform.h"
#include "ui/Storedsettings.h"

namespace {

class StoredSettings : public FormsTest {
  protected:
    void SetUp() override { StartRun(); }
    // The system lists two ports; none is named on the command line.
    void StartRun() {
        CommandLineDevices().clear();
        SystemPortLister = [](StringDeque& list) {
            list = {"ttyLCT0", "ttyLCT1"};
            return true;
        };
        CreateForms();
        FormMain->Timer()->stop();
    }
    // Ends the run as closing the main window does, and starts the next.
    void NextRun() {
        FormMain->close();
        DestroyForms();
        StartRun();
    }
    static void ShowMainWindow() {
        FormMain->show();
        FormAbout->hide();
    }
    static QRect Screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    ScratchSettings settings;
};

TEST_F(StoredSettings, EachWindowComesBackWhereItStoodAndOnlyThoseShownAreStored) {
    const QRect screen = Screen();
    const int linesAtFirst = FormMain->maxLines;
    ShowMainWindow();
    FormMain->resize(500, 380);
    FormMain->move(screen.topLeft() + QPoint(20, 30));
    FormMain->MenuPortConfigureClick();
    FormPort->move(screen.topLeft() + QPoint(200, 100));
    FormMain->MenuRcvrPortClick();
    FormRcvrPort->move(screen.right() - 50, screen.top() + 40);  // mostly off the screen's right edge
    const QSize setupSize = FormRcvrPort->frameGeometry().size();
    FormMain->MenuStatusClick();
    FormStatus->move(screen.topLeft() + QPoint(90, 20));
    FormStatus->resize(FormStatus->size() + QSize(40, 30));
    const QSize statusSize = FormStatus->size();
    const QRect helpFromBefore(screen.topLeft() + QPoint(60, 70), QSize(400, 495));
    StorePlace("TFormHelp", {helpFromBefore, helpFromBefore.size()});  // not shown in this run

    NextRun();
    EXPECT_EQ(FormMain->frameGeometry().topLeft(), screen.topLeft() + QPoint(20, 30));
    EXPECT_EQ(FormMain->size(), QSize(500, 380));
    EXPECT_LT(FormMain->maxLines, linesAtFirst);  // the lines that fit the size it opens at
    ShowMainWindow();
    QApplication::processEvents();
    EXPECT_EQ(FormMain->maxLines, LinesThatFit(FormMain->Memo()));

    FormMain->MenuPortConfigureClick();
    EXPECT_EQ(FormPort->frameGeometry().topLeft(), screen.topLeft() + QPoint(200, 100));
    FormMain->MenuRcvrPortClick();
    EXPECT_EQ(FormRcvrPort->frameGeometry().topLeft(),
              QPoint(screen.right() + 1 - setupSize.width(), screen.top() + 40));
    FormMain->MenuStatusClick();  // the status window keeps its size too
    EXPECT_EQ(FormStatus->frameGeometry().topLeft(), screen.topLeft() + QPoint(90, 20));
    EXPECT_EQ(FormStatus->size(), statusSize);
    FormMain->MenuHelpContentsClick();
    EXPECT_EQ(FormHelp->frameGeometry().topLeft(), helpFromBefore.topLeft());
    FormMain->MenuMDBClick();  // never placed before: over the main window, as on a first run
    EXPECT_EQ(FormMDB->frameGeometry().topLeft(),
              CentredOver(BoundsOf(FormMain), FormMDB->frameGeometry().size(), true));
}

TEST_F(StoredSettings, TheMainWindowIsKeptOnTheScreenOrCentredWhenItsPlaceIsOffEveryScreen) {
    const QRect screen = Screen();
    const QPoint centred = FormMain->pos();
    const QSize designed = FormMain->size();
    struct Row {
        const char* what = nullptr;
        QRect stored;
        QRect expected;  // frame
    };
    const Row rows[] = {
        {"on the screen",
         {screen.left() + 10, screen.top() + 20, 400, 300},
         {screen.left() + 10, screen.top() + 20, 400, 300}},
        {"half off to the left",
         {screen.left() - 200, screen.top() + 20, 400, 300},
         {screen.left(), screen.top() + 20, 400, 300}},
        {"larger than the screen", screen.adjusted(-100, -50, 200, 100), screen},
        {"off every screen", {screen.right() + 1000, screen.top(), 400, 300}, {centred, designed}},
    };
    for (const Row& r : rows) {
        FormMain->close();
        DestroyForms();
        StorePlace("TFormMain", {r.stored, r.stored.size()});
        StartRun();
        EXPECT_EQ(FormMain->frameGeometry(), r.expected) << r.what;
    }
}

TEST_F(StoredSettings, FileDialogsStartInTheFolderUsedLastForTheirKindOfFile) {
    const std::string logs = settings.Folder("logs");
    const std::string displays = settings.Folder("displays");
    const std::string images = settings.Folder("images");
    std::ofstream(images + "/300new.hex") << "S0030000FC\n";
    // Opens a file dialog, notes the folder it starts in and chooses `file` in it.
    const auto choose = [](const std::function<void()>& open, const std::string& file) {
        QString startedIn;
        {
            testsupport::ModalAcceptor acceptor([&](QDialog* d) {
                auto* dialog = qobject_cast<QFileDialog*>(d);
                ASSERT_NE(dialog, nullptr);
                startedIn = dialog->directory().absolutePath();
                // selectFile() leaves the name edit alone while it has the focus, which it
                // has once the dialog is active; the dialog would then never accept.
                if (QWidget* focused = QApplication::focusWidget()) {
                    focused->clearFocus();
                }
                dialog->selectFile(QString::fromStdString(file));
            });
            open();
        }
        return startedIn.toStdString();
    };
    const auto logging = [] {
        FormMain->MenuFileLoggingClick();
        if (FormMain->logging) {
            FormMain->MenuFileLoggingClick();  // and off again
        }
    };
    const auto saveDisplay = [] { FormMain->MenuFileSaveDisplayClick(); };
    const auto software = [] { FormLoadSetup->ButtonSoftwareFileClick(); };

    choose(logging, logs + "/a.txt");
    EXPECT_EQ(choose(saveDisplay, displays + "/shown.txt"), logs);  // one folder for both records
    EXPECT_EQ(choose(logging, displays + "/b.txt"), displays);
    EXPECT_NE(choose(software, images + "/300new.hex"), images);  // a folder of its own
    EXPECT_EQ(choose(software, images + "/300new.hex"), images);
    EXPECT_EQ(choose(logging, displays + "/c.txt"), displays);
    NextRun();
    EXPECT_EQ(choose(logging, logs + "/d.txt"), displays);
    EXPECT_EQ(choose(software, images + "/300new.hex"), images);
    std::filesystem::remove_all(displays);  // a folder since removed is forgotten
    EXPECT_NE(choose(logging, logs + "/e.txt"), displays);
}

// Whatever the file holds, the program starts with its defaults, and ends without harm.
TEST_F(StoredSettings, ADamagedOrUnreadableFileGivesTheDefaults) {
    const QPoint centred = FormMain->pos();
    struct Case {
        const char* what;
        std::string content;  // empty: the path is a folder, which cannot be read as a file
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"binary garbage", "\0\xff\xfe[[[=\n\x01\x02garbage\r\n@Rect(\n[Port\ndevice"s},
        {"values of the wrong kind",
         "[Port]\ndevice=@Rect(1 2 3 4)\nbaudRate=fast\n[Folders]\nrecords=@Invalid()\n"
         "software=/no/such/folder\n[Windows]\nTFormMain\\frame=garbage\nTFormMain\\client=@Size(400 300)\n"
         "TFormPort\\frame=@Size(1 2)\nTFormPort\\client=@Rect(0 0 1 1)\n"},
        {"numbers out of all reason",
         "[Port]\ndevice=ttyLCT1\nbaudRate=-9600\n[Windows]\n"
         "TFormMain\\frame=@Rect(0 0 999999999 10)\nTFormMain\\client=@Size(400 300)\n"
         "TFormPort\\frame=@Rect(0 0 0 -7)\nTFormPort\\client=@Size(10 10)\n"},
        {"a folder", ""},
    };
    const std::string path = settings.File().toStdString();
    for (const Case& c : cases) {
        FormMain->close();
        DestroyForms();
        std::filesystem::remove_all(path);
        if (c.content.empty()) {
            std::filesystem::create_directories(path);
        } else {
            std::ofstream(path, std::ios::binary) << c.content;
        }
        StartRun();
        EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText(), "ttyLCT0") << c.what;
        EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "19200") << c.what;
        EXPECT_EQ(FormMain->pos(), centred) << c.what;
        EXPECT_TRUE(StoredFolder(FileFolder::Records).isEmpty()) << c.what;
        EXPECT_TRUE(StoredFolder(FileFolder::Software).isEmpty()) << c.what;
        ShowMainWindow();
        FormMain->MenuPortConfigureClick();
        EXPECT_EQ(FormPort->frameGeometry().topLeft(),
                  CentredOver(BoundsOf(FormMain), FormPort->frameGeometry().size(), true))
            << c.what;
    }
}

// After a damaged file, what the user does next is remembered again.
TEST_F(StoredSettings, ADamagedFileIsReplacedByTheNextChoices) {
    FormMain->close();
    DestroyForms();
    using namespace std::string_literals;
    std::ofstream(settings.File().toStdString(), std::ios::binary) << "\xff\xfe\0garbage[[\n"s;
    StartRun();
    StorePortChoice({"ttyLCT1", 4800});
    NextRun();
    EXPECT_EQ(FormPort->ComboBoxDeviceName()->currentText(), "ttyLCT1");
    EXPECT_EQ(FormPort->ComboBoxBaudRate()->currentText(), "4800");
}

}  // namespace
