// File > Export Track... in the main window: the track of the recording in hand, the one
// replayed last (whether it still plays or has ended) or recorded last (once stopped), as a
// user who has just watched or made one expects; with none in hand it first asks for a
// recording. The export runs off the window's thread and a note tells how it went.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

#include "recplay/Recordreplay.h"
#include "ui/Mainform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Storedsettings.h"

namespace {

struct TrackFilter {
    const char* filter;
    const char* suffix;
};
constexpr TrackFilter kTrackFilters[] = {
    {"GPX track (*.gpx)", "gpx"},
    {"KML track for Google Earth (*.kml)", "kml"},
    {"CSV table (*.csv)", "csv"},
};

// The track file for a recording: its name with the chosen filter's extension, beside it.
QString AskTrackFile(QWidget* parent, const QString& recording) {
    const QFileInfo source(recording);
    QFileDialog dialog(parent, QStringLiteral("Export Track of %1").arg(source.fileName()));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList filters;
    for (const TrackFilter& f : kTrackFilters) {
        filters << QString::fromLatin1(f.filter);
    }
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QString::fromLatin1(kTrackFilters[0].suffix));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, filters](const QString& filter) {
                         const auto at = std::max<qsizetype>(filters.indexOf(filter), 0);
                         dialog.setDefaultSuffix(QString::fromLatin1(kTrackFilters[at].suffix));
                     });
    dialog.setDirectory(source.absolutePath());
    dialog.selectFile(source.completeBaseName() + QStringLiteral(".gpx"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    QString chosen = dialog.selectedFiles().front();
    // A name whose extension names no format takes the chosen filter's.
    if (!TrackFormatOfPath(chosen.toStdString())) {
        chosen += QLatin1Char('.') + dialog.defaultSuffix();
    }
    return chosen;
}

}  // namespace

void TFormMain::BuildExportMenu() {
    exporter_ = new TrackExporter(this);
    auto* exportTrack = new QAction(QStringLiteral("&Export Track..."), this);
    exportTrack->setObjectName("MenuFileExportTrack");
    // Below the replay's menu, above the separator over Exit.
    auto* fileMenu = menuBar()->findChild<QMenu*>(QStringLiteral("MenuFile"));
    const QList<QAction*> items = fileMenu->actions();
    const qsizetype exitAt = items.indexOf(Action("MenuFileExit"));
    QAction* before =
        exitAt > 0 && items[exitAt - 1]->isSeparator() ? items[exitAt - 1] : Action("MenuFileExit");
    fileMenu->insertAction(before, exportTrack);
    connect(exportTrack, &QAction::triggered, this, &TFormMain::MenuFileExportTrackClick);

    chooseTrackSource = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Export Track of a Recording"),
                                            StoredFolder(FileFolder::Records),
                                            QStringLiteral("Recordings (*.rec);;All files (*)"));
    };
    chooseTrackFile = [this](const QString& recording) { return AskTrackFile(this, recording); };
}

bool TFormMain::ExportingTrack() const {
    return exporter_ != nullptr && exporter_->Running();
}

void TFormMain::SetTrackSource(const QString& path, uint32_t plainBaud) {
    trackSource_ = path;
    trackSourceBaud_ = plainBaud;
}

void TFormMain::MenuFileExportTrackClick() {
    if (ExportingTrack()) {
        FormNote->ShowMessageOver(BoundsOf(this),
                                  QStringLiteral("A track is being exported: wait for it to end."));
        return;
    }
    QString source = trackSource_;
    uint32_t plainBaud = trackSourceBaud_;
    if (source.isEmpty()) {
        source = chooseTrackSource ? chooseTrackSource() : QString();
        if (source.isEmpty()) {
            return;
        }
        StoreFolderOf(FileFolder::Records, source);
        plainBaud = 0;
    }
    const QString out = chooseTrackFile ? chooseTrackFile(source) : QString();
    if (out.isEmpty()) {
        return;
    }
    const auto format = TrackFormatOfPath(out.toStdString());
    if (!format) {
        FormNote->ShowMessageOver(
            BoundsOf(this), QStringLiteral("Choose a track file whose name ends in .gpx, .kml or .csv."));
        return;
    }
    StartTrackExport({source.toStdString(), plainBaud, out.toStdString(), *format});
}

void TFormMain::StartTrackExport(const TrackExportJob& job) {
    exporter_->Start(job, [this](const TrackExportJob& done, const TrackExportOutcome& outcome) {
        TrackExported(done, outcome);
    });
    ShowRecordingState();
}

void TFormMain::TrackExported(const TrackExportJob& job, const TrackExportOutcome& outcome) {
    ShowRecordingState();
    const RecordingLinesRead& read = outcome.read;
    if (read.stopped) {
        return;  // the window is closing
    }
    // A file that is not a recording is read as bytes at a line rate the user chooses.
    if (read.needsLineRate && job.plainBaud == 0 && choosePlainBaud) {
        TrackExportJob again = job;
        again.plainBaud = choosePlainBaud();
        if (again.plainBaud != 0) {
            StartTrackExport(again);
        }
        return;
    }
    const QString source = QString::fromStdString(ShortFileName(job.recording));
    const QString out = QDir::toNativeSeparators(QString::fromStdString(job.out));
    QString text;
    if (!outcome.written.error.empty()) {
        text = QStringLiteral("Error writing track file %1: %2")
                   .arg(out, QString::fromStdString(outcome.written.error));
    } else if (!read.opened) {
        text = QStringLiteral("Cannot read %1: %2").arg(source, QString::fromStdString(read.error));
    } else if (!outcome.written.written) {
        text = QStringLiteral("No fixes in %1; nothing written.").arg(source);
    } else {
        text = QStringLiteral("%1 fixes written to %2").arg(outcome.written.fixes).arg(out);
        if (!read.problem.empty()) {
            text += QStringLiteral("\n%1 stops being sound (%2): the track ends there.")
                        .arg(source, QString::fromStdString(read.problem));
        }
    }
    FormNote->ShowMessageOver(BoundsOf(this), text);
}
