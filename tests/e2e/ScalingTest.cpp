// Every window at the display scale ctest runs it with (QT_SCALE_FACTOR 1, 1.25, 1.5 and 2 on
// the real xcb platform under Xvfb): shown on the screen, no caption is cut off by its widget,
// no widget sticks out of its window, and no two captions overlap. With LCT_SCALE_SHOTS set to a
// folder, a grab of the screen of each window is saved there to be looked at.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <map>

#include "E2EFixture.h"
#include "support/Ggarecording.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Keyboard.h"
#include "ui/Loadsetupform.h"
#include "ui/Mdbform.h"
#include "ui/Noteform.h"
#include "ui/Rcvrportform.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Togglegroup.h"
#include "ui/Waitform.h"

namespace {

constexpr int kButtonPadding = 4;  // the least room a style's button frame needs either side
constexpr int kComboArrow = 18;    // the drop-down arrow beside a combo box's text

bool Shown(const QWidget* widget) {
    return widget->isVisibleTo(widget->window()) && widget->isVisible();
}

// The room a widget needs to show its caption whole, or an empty size when it shows none.
QSize CaptionNeeds(const QWidget* widget) {
    const QFontMetrics metrics(widget->font());
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty() || !label->pixmap().isNull()) {
            return {};
        }
        const QString text = label->buddy() != nullptr ? ShownCaption(label->text()) : label->text();
        if (label->wordWrap()) {
            return {0, label->heightForWidth(label->contentsRect().width())};
        }
        const QRect ink = metrics.boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignLeft, text);
        return {ink.width(), ink.height()};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (button->text().isEmpty()) {
            return {};
        }
        const int caption = metrics.horizontalAdvance(ShownCaption(button->text()));
        const int width = button->isCheckable()
                              ? std::max(CheckedStateWidth(button), caption + 2 * kButtonPadding)
                              : caption + 2 * kButtonPadding;
        return {width, metrics.height()};
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        return {metrics.horizontalAdvance(combo->currentText()) + kComboArrow, metrics.height()};
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title().isEmpty() ? QSize()
                                        : QSize(metrics.horizontalAdvance(ShownCaption(group->title())), 0);
    }
    if (const auto* bar = qobject_cast<const QMenuBar*>(widget)) {
        return {bar->sizeHint().width(), 0};
    }
    return {};
}

bool ShowsCaption(const QWidget* widget) {
    return CaptionNeeds(widget).isValid() && !CaptionNeeds(widget).isEmpty();
}

// What is wrong with the window as shown: captions cut off, widgets outside the window,
// captions overlapping a sibling's.
QStringList LayoutFaults(QWidget* window) {
    QStringList faults;
    const QRect inside = window->rect();
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        // Unnamed widgets are the inner parts of compound ones (a combo box's edit).
        if (widget->window() != window || !Shown(widget) || widget->objectName().isEmpty() ||
            widget->objectName().startsWith(QStringLiteral("qt_"))) {
            continue;
        }
        const QRect place(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!inside.contains(place) || !widget->parentWidget()->rect().contains(widget->geometry())) {
            faults << QStringLiteral("%1 sticks out of its window or panel").arg(widget->objectName());
        }
        const QSize needs = CaptionNeeds(widget);
        const QSize has = widget->contentsRect().size();
        if (needs.isValid() && (needs.width() > has.width() || needs.height() > has.height())) {
            faults << QStringLiteral("%1 needs %2x%3, has %4x%5")
                          .arg(widget->objectName())
                          .arg(needs.width())
                          .arg(needs.height())
                          .arg(has.width())
                          .arg(has.height());
        }
        if (!ShowsCaption(widget)) {
            continue;
        }
        for (QWidget* sibling : widget->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (sibling != widget && Shown(sibling) && ShowsCaption(sibling) &&
                widget->geometry().intersects(sibling->geometry()) &&
                widget->objectName() < sibling->objectName()) {
                faults << QStringLiteral("%1 overlaps %2").arg(widget->objectName(), sibling->objectName());
            }
        }
    }
    return faults;
}

// The colour most of an image shows: a label's background.
QRgb MostCommonColour(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y) & 0xFFFFFF];
        }
    }
    return std::max_element(counts.begin(), counts.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
}

// From the screen: a label whose text runs past its edge shows ink (pixels unlike its
// background) in its outermost column on the side the text runs to (the right for text aligned
// left, both sides for text centred). Labels sized to their text by a layout (whose ink may
// touch their edge and which LayoutFaults measures), and labels with a frame or a picture, are
// left out.
QStringList LabelsCutOffOnScreen(QWidget* window) {
    QStringList cut;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->window() != window || !Shown(label) || label->text().isEmpty() ||
            !label->pixmap().isNull() || label->frameShape() != QFrame::NoFrame || label->wordWrap() ||
            label->width() <= label->sizeHint().width()) {
            continue;
        }
        const QPoint at = label->mapToGlobal(QPoint(0, 0));
        const QImage shown = QGuiApplication::primaryScreen()
                                 ->grabWindow(0, at.x(), at.y(), label->width(), label->height())
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        if (shown.isNull()) {
            continue;
        }
        const QRgb background = MostCommonColour(shown);
        const auto inkInColumn = [&](int x) {
            for (int y = 0; y < shown.height(); ++y) {
                if ((shown.pixel(x, y) & 0xFFFFFF) != background) {
                    return true;
                }
            }
            return false;
        };
        const Qt::Alignment align = label->alignment();
        const bool runsLeft = (align & (Qt::AlignRight | Qt::AlignHCenter)) != 0;
        const bool runsRight = (align & Qt::AlignRight) == 0;
        if ((runsLeft && inkInColumn(0)) || (runsRight && inkInColumn(shown.width() - 1))) {
            cut << label->objectName();
        }
    }
    return cut;
}

void SaveScreenOf(QWidget* window, const QString& name) {
    const QString folder = qEnvironmentVariable("LCT_SCALE_SHOTS");
    if (folder.isEmpty()) {
        return;
    }
    QDir().mkpath(folder);
    const QRect frame = window->frameGeometry();
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(QStringLiteral("%1/%2-%3.png").arg(folder, name, scale));
}

class ScreenScaling : public E2ETest {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the xcb platform (ctest runs this under xvfb-run)";
        }
    }
};

TEST_F(ScreenScaling, NoWindowCutsOffOrOverlapsTextAtThisScale) {
    StartSim({});
    FormMain->show();
    FormAbout->hide();
    FormPort->ButtonApplyClick();
    RunFor(300);
    const QRect over = BoundsOf(FormMain);
    struct Window {
        const char* name;
        std::function<QWidget*()> show;
        bool besideMain = false;  // opens beside the main window, not over it
    };
    const std::vector<Window> windows = {
        {"main", [] { return FormMain; }},
        {"port", [&] { return FormPort->ShowOver(over), FormPort; }},
        {"port-address",
         [&] {
             FormPort->ComboBoxDeviceName()->setEditText(QStringLiteral("rfc2217://255.255.255.255:65535"));
             return FormPort->ShowOver(over), FormPort;
         }},
        {"receiver-setup", [&] { return FormRcvrPort->ShowOver(over), FormRcvrPort; }},
        {"hardware", [&] { return FormMDB->ShowOver(over), FormMDB; }},
        {"calibration", [&] { return FormTCMCalibStatus->ShowOver(over), FormTCMCalibStatus; }},
        {"load", [&] { return FormLoadSetup->ShowOver(over), FormLoadSetup; }},
        {"help", [&] { return FormHelp->ShowContents(over), FormHelp; }},
        {"about", [&] { return FormAbout->ShowOver(over), FormAbout; }},
        {"status", [] { return FormStatus->ShowBeside(FormMain), FormStatus; }, true},
        {"accuracy",
         [] {
             // A standing receiver's fixes and an absurd one about a reference, then a bad
             // entry, so that the plot, the note and the entry's error show.
             std::vector<std::string> lines = testsupport::StandingReceiverLines(600);
             lines.push_back(testsupport::GgaSentence(0.0, 0.0, 0.0, 1, 0));
             for (const std::string& line : lines) {
                 FormAccuracy->TakeLine(reinterpret_cast<const uint8_t*>(line.data()),
                                        static_cast<uint16_t>(line.size()));
             }
             FormAccuracy->CheckBoxMean()->setChecked(false);
             FormAccuracy->EditReference()->setText(QStringLiteral("48.1173, 11.5167, 566"));
             FormAccuracy->ButtonApplyClick();
             FormAccuracy->EditReference()->setText(QStringLiteral("48.1173, 11.5167"));
             FormAccuracy->ButtonApplyClick();
             return FormAccuracy->ShowBeside(FormMain), FormAccuracy;
         },
         true},
        {"wait",
         [&] {
             return FormWait->ShowWaitOver(over, QStringLiteral("Attempting /dev/pts/1 at 19200")), FormWait;
         }},
    };
    for (const Window& w : windows) {
        QWidget* window = w.show();
        RunFor(500);  // the receiver's answers fill the dialogs
        EXPECT_TRUE(window->isVisible()) << w.name;
        EXPECT_EQ(LayoutFaults(window).join(QStringLiteral("; ")).toStdString(), "") << w.name;
        EXPECT_EQ(LabelsCutOffOnScreen(window).join(QStringLiteral(", ")).toStdString(), "")
            << w.name << ": text reaches the edge of these labels on the screen";
        if (w.besideMain) {
            EXPECT_FALSE(BoundsOf(window).intersects(BoundsOf(FormMain)))
                << w.name << " opens over the main window though the screen has room beside it";
        }
        SaveScreenOf(window, QString::fromLatin1(w.name));
        if (window != FormMain) {
            window->hide();
        }
    }
    // The note is modal: it is judged while it waits for its OK.
    QStringList noteFaults;
    QTimer::singleShot(500, [&noteFaults] {
        noteFaults = LayoutFaults(FormNote);
        SaveScreenOf(FormNote, QStringLiteral("note"));
        FormNote->accept();
    });
    FormNote->ShowMessageOver(over, QStringLiteral("Error opening device /dev/ttyUSB0"));
    EXPECT_EQ(noteFaults.join(QStringLiteral("; ")).toStdString(), "");
}

}  // namespace
