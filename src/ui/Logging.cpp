// NMEA file logging of the main window: every shown sentence, as received, one per line.
#include <QAction>
#include <QFileDialog>
#include <QLabel>

#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"

namespace {
// Sentences are written with CR LF, NMEA's own line end, so that a log is the same file
// whichever system wrote it.
constexpr const char* kLineEnd = "\r\n";

void ShowNote(QWidget* over, const QString& text) {
    if (FormNote != nullptr) {
        FormNote->ShowMessageOver(BoundsOf(over), text);
    }
}
}  // namespace

// The save dialog of File > Logging and File > Save Display As, in the folder used last.
QString TFormMain::RunSaveDialog(const QString& caption) {
    QFileDialog dialog(this, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (const QString folder = StoredFolder(FileFolder::Records); !folder.isEmpty()) {
        dialog.setDirectory(folder);
    }
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setNameFilter(QStringLiteral("Text Only (*.txt)"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

void TFormMain::MenuFileLoggingClick() {
    if (logging) {
        StopLogging();
    } else {
        const QString chosen = chooseLogFile ? chooseLogFile() : QString();
        if (!chosen.isEmpty()) {
            StoreFolderOf(FileFolder::Records, chosen);
            StartLogging(chosen);
        }
    }
    ShowLogState();
}

void TFormMain::StartLogging(const QString& fileName) {
    logFileName = fileName.toStdString();
    logFile = std::fopen(logFileName.c_str(), "wb");  // create or truncate
    if (logFile == nullptr) {
        ShowNote(this, QStringLiteral("Error opening log file ") + fileName);
        return;
    }
    logging = true;
    Action("MenuFileLogging")->setText(QStringLiteral("Close &log"));
}

void TFormMain::StopLogging() {
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    logging = false;
    Action("MenuFileLogging")->setText(QStringLiteral("&Logging"));
}

void TFormMain::ShowLogState() {
    QString state = QStringLiteral("none");
    if (logging) {
        state = QStringLiteral("\" %1 \"").arg(QString::fromStdString(ShortFileName(logFileName)));
    }
    StatusPanel(1)->setText(QStringLiteral("Logging: ") + state);
}

void TFormMain::LogLine(const std::string& sentence) {
    if (logFile == nullptr) {
        return;
    }
    // By length: a sentence may hold a NUL byte, and the log keeps every byte as received.
    const bool written = std::fwrite(sentence.data(), 1, sentence.size(), logFile) == sentence.size() &&
                         std::fputs(kLineEnd, logFile) >= 0 && std::fflush(logFile) == 0;
    if (!written) {
        // Report once and stop, rather than lose every later sentence silently.
        StopLogging();
        ShowLogState();
        ShowNote(this, QStringLiteral("Error writing log file ") + QString::fromStdString(logFileName) +
                           QStringLiteral(". Logging has stopped."));
    }
}
