#include "ui/Helpform.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include "ui/Helppictures.h"
#include "ui/Helptexts.h"
#include "ui/Keyboard.h"
#include "ui/Scaleutils.h"
#include "ui/Windowplaces.h"
#include "ui_Helpform.h"

TFormHelp* FormHelp = nullptr;

namespace {
constexpr QSize kContentsSize{400, 495};
constexpr QSize kMemoSize{360, 341};
constexpr QSize kWiringSize{400, 400};
constexpr int kTopicMargin = 20;   // each side of a topic control
constexpr int kButtonBottom = 40;  // from the window's bottom edge to its buttons
constexpr int kLinkFontPx = 20;

// Centred in `outer`, but never left of 0: a control wider than the window is pinned left.
int CentredLeft(int outer, int inner) {
    return std::max(0, (outer - inner) / 2);
}

using ClickHandler = void (TFormHelp::*)();
struct LinkEntry {
    QLabel* Ui::TFormHelp::*label;
    ClickHandler click;
};
constexpr LinkEntry kLinks[] = {
    {&Ui::TFormHelp::LabelConnection, &TFormHelp::LabelConnectionClick},
    {&Ui::TFormHelp::Label12, &TFormHelp::Label12Click},
    {&Ui::TFormHelp::LabelProgramming, &TFormHelp::LabelProgrammingClick},
    {&Ui::TFormHelp::LabelLogging, &TFormHelp::LabelLoggingClick},
    {&Ui::TFormHelp::LabelNMEAGGA, &TFormHelp::LabelNMEAGGAClick},
    {&Ui::TFormHelp::LabelNMEAGSA, &TFormHelp::LabelNMEAGSAClick},
    {&Ui::TFormHelp::LabelNMEAVTG, &TFormHelp::LabelNMEAVTGClick},
    {&Ui::TFormHelp::LabelNMEAZDA, &TFormHelp::LabelNMEAZDAClick},
    {&Ui::TFormHelp::LabelNMEARMC, &TFormHelp::LabelNMEARMCClick},
    {&Ui::TFormHelp::LabelNMEASNR, &TFormHelp::LabelNMEASNRClick},
};
}  // namespace

TFormHelp::TFormHelp(QWidget* parent) : QDialog(parent), ui(new Ui::TFormHelp) {
    ui->setupUi(this);
    SetUpLinks();
    DrawPictures();
    ui->MemoConnection->setPlainText(ConnectionHelpText());
    ui->MemoProgramming->setPlainText(LoadingHelpText());
    ui->MemoLogging->setPlainText(LoggingHelpText());
    connect(ui->ButtonBack, &QPushButton::clicked, this, &TFormHelp::ButtonBackClick);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormHelp::ButtonCloseClick);

    // As designed, the window is its contents page: the topics and Back are hidden.
    for (QWidget* control : TopicControls()) {
        control->hide();
    }
    ui->ButtonBack->hide();
    FitClientToControls(this);
    PrepareDialogKeys(this, nullptr, ui->ButtonClose);
    positioned = false;
}

TFormHelp::~TFormHelp() {
    delete ui;
}

void TFormHelp::SetUpLinks() {
    for (QLabel* link : Links()) {
        QFont font = link->font();
        font.setPixelSize(kLinkFontPx);
        font.setUnderline(true);
        link->setFont(font);
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
        link->setCursor(Qt::PointingHandCursor);
        link->adjustSize();  // only the words are clickable, not the space after them
        // From the keyboard: Tab reaches each topic, shown highlighted, and Enter or Space opens it.
        link->setFocusPolicy(Qt::StrongFocus);
        link->setStyleSheet(QStringLiteral(
            "QLabel:focus { background-color: palette(highlight); color: palette(highlighted-text); }"));
        link->installEventFilter(this);
    }
}

void TFormHelp::DrawPictures() {
    ui->Image12->setPixmap(QPixmap::fromImage(DrawConnectorPicture()));
    const std::pair<QLabel*, const char*> images[] = {
        {ui->ImageNMEAGGA, "GGA"}, {ui->ImageNMEAGSA, "GSA"}, {ui->ImageNMEAVTG, "VTG"},
        {ui->ImageNMEAZDA, "ZDA"}, {ui->ImageNMEARMC, "RMC"}, {ui->ImageNMEASNR, "SNR"},
    };
    for (const auto& [image, name] : images) {
        const NmeaPicture& picture = NmeaPictureNamed(QString::fromLatin1(name));
        image->setPixmap(QPixmap::fromImage(DrawNmeaPicture(picture)));
        image->resize(picture.size);  // shown at its natural scale
    }
}

bool TFormHelp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            for (const LinkEntry& entry : kLinks) {
                if (watched == ui->*entry.label) {
                    (this->*entry.click)();
                    return true;
                }
            }
        }
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        for (const LinkEntry& entry : kLinks) {
            QLabel* link = ui->*entry.label;
            if (watched == link && mouse->button() == Qt::LeftButton &&
                link->rect().contains(mouse->position().toPoint())) {
                (this->*entry.click)();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::vector<QLabel*> TFormHelp::Links() const {
    std::vector<QLabel*> links;
    for (const LinkEntry& entry : kLinks) {
        links.push_back(ui->*entry.label);
    }
    return links;
}

std::vector<QWidget*> TFormHelp::TopicControls() const {
    return {ui->MemoConnection, ui->MemoProgramming, ui->MemoLogging,  ui->Image12,      ui->ImageNMEAGGA,
            ui->ImageNMEAGSA,   ui->ImageNMEAVTG,    ui->ImageNMEAZDA, ui->ImageNMEARMC, ui->ImageNMEASNR};
}

QPushButton* TFormHelp::ButtonBack() const {
    return ui->ButtonBack;
}

QPushButton* TFormHelp::ButtonClose() const {
    return ui->ButtonClose;
}

// The page is laid out before placing, so that the window is centred with the size it
// will be shown at.
void TFormHelp::PlaceOnFirstOpening(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
}

void TFormHelp::ShowContents(const QRect& bounds) {
    ShowContentsPage();
    PlaceOnFirstOpening(bounds);
    show();
    activateWindow();
}

void TFormHelp::ShowLoadingHelp(const QRect& bounds) {
    ShowContentsPage();
    ShowMemoTopic(ui->MemoProgramming, QStringLiteral("Help - Loading Instructions"), Leave::Close);
    PlaceOnFirstOpening(bounds);
    show();
    activateWindow();
}

void TFormHelp::ShowContentsPage() {
    for (QWidget* control : TopicControls()) {
        control->hide();
    }
    ui->ButtonBack->hide();
    for (QLabel* link : Links()) {
        link->show();
    }
    ui->ButtonClose->show();
    ui->ButtonClose->setDefault(true);
    resize(kContentsSize);
    FormResize();  // a hidden window gets its resize event only when shown
    setWindowTitle(QStringLiteral("Help"));
}

void TFormHelp::HideTopicLinks() {
    for (QLabel* link : Links()) {
        link->hide();
    }
}

void TFormHelp::ShowTopic(QWidget* control, const QString& caption, Leave leave) {
    resize(control->width() + 2 * kTopicMargin, height());
    FormResize();
    HideTopicLinks();
    for (QWidget* other : TopicControls()) {
        other->setVisible(other == control);
    }
    ui->ButtonBack->setVisible(leave == Leave::Back);
    ui->ButtonClose->setVisible(leave == Leave::Close);
    (leave == Leave::Back ? ui->ButtonBack : ui->ButtonClose)->setDefault(true);
    setWindowTitle(caption);
}

void TFormHelp::ShowMemoTopic(QWidget* memo, const QString& caption, Leave leave) {
    memo->resize(kMemoSize);
    ShowTopic(memo, caption, leave);
}

void TFormHelp::ShowPictureTopic(QLabel* image, const QString& caption) {
    ShowTopic(image, caption);
}

void TFormHelp::LabelConnectionClick() {
    ShowMemoTopic(ui->MemoConnection, QStringLiteral("Help - Connection Instructions"));
}

void TFormHelp::Label12Click() {
    ui->Image12->resize(kWiringSize);
    ShowPictureTopic(ui->Image12, QStringLiteral("Help - 12 Pin Connector Wiring"));
}

void TFormHelp::LabelProgrammingClick() {
    ShowMemoTopic(ui->MemoProgramming, QStringLiteral("Help - Loading Software"));
}

void TFormHelp::LabelLoggingClick() {
    ShowMemoTopic(ui->MemoLogging, QStringLiteral("Help - File Logging"));
}

void TFormHelp::LabelNMEAGGAClick() {
    ShowPictureTopic(ui->ImageNMEAGGA, QStringLiteral("Help - NMEA Message (GGA)"));
}

void TFormHelp::LabelNMEAGSAClick() {
    ShowPictureTopic(ui->ImageNMEAGSA, QStringLiteral("Help - NMEA Message (GSA)"));
}

void TFormHelp::LabelNMEAVTGClick() {
    ShowPictureTopic(ui->ImageNMEAVTG, QStringLiteral("Help - NMEA Message (VTG)"));
}

void TFormHelp::LabelNMEAZDAClick() {
    ShowPictureTopic(ui->ImageNMEAZDA, QStringLiteral("Help - NMEA Message (ZDA)"));
}

void TFormHelp::LabelNMEARMCClick() {
    ShowPictureTopic(ui->ImageNMEARMC, QStringLiteral("Help - NMEA Message (RMC)"));
}

void TFormHelp::LabelNMEASNRClick() {
    ShowPictureTopic(ui->ImageNMEASNR, QStringLiteral("Help - NMEA Message (SNR)"));
}

void TFormHelp::ButtonBackClick() {
    ShowContentsPage();
}

void TFormHelp::ButtonCloseClick() {
    hide();
}

void TFormHelp::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TFormHelp::FormResize() {
    for (QWidget* control : TopicControls()) {
        control->move(CentredLeft(width(), control->width()), kTopicMargin);
    }
    for (QPushButton* button : {ui->ButtonBack, ui->ButtonClose}) {
        button->move(CentredLeft(width(), button->width()), height() - button->height() - kButtonBottom);
    }
}
