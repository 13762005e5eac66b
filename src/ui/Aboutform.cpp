#include "ui/Aboutform.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Keyboard.h"
#include "ui/Scaleutils.h"
#include "ui_Aboutform.h"

TFormAbout* FormAbout = nullptr;

namespace {
constexpr int kSplashTicks = 5;  // hidden on the tick after the fifth: about six seconds
constexpr int kGroupHeight = 313;
constexpr int kCloseTop = 328;
constexpr int kWindowHeight = 400;
}  // namespace

QPixmap DrawMarksLogo(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(4, 4, size - 8, size - 8);
    const QColor navy(20, 45, 110);
    const QColor amber(230, 150, 20);
    // A globe with one orbit and a satellite: the receiver's job in one picture.
    p.setPen(QPen(navy, 3));
    p.setBrush(QColor(225, 235, 250));
    p.drawEllipse(box.adjusted(size * 0.12, size * 0.12, -size * 0.12, -size * 0.12));
    p.setPen(QPen(navy, 1.5));
    p.setBrush(Qt::NoBrush);
    const QRectF globe = box.adjusted(size * 0.12, size * 0.12, -size * 0.12, -size * 0.12);
    p.drawEllipse(globe.adjusted(globe.width() * 0.3, 0, -globe.width() * 0.3, 0));
    p.drawLine(QPointF(globe.left(), globe.center().y()), QPointF(globe.right(), globe.center().y()));
    p.setPen(QPen(amber, 3));
    p.save();
    p.translate(box.center());
    p.rotate(-25);
    p.drawEllipse(QRectF(-box.width() / 2, -box.height() / 5, box.width(), box.height() * 0.4));
    p.setBrush(amber);
    p.drawRect(QRectF(box.width() / 2 - 10, -6, 12, 12));
    p.restore();
    return pixmap;
}

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent), ui(new Ui::TFormAbout), timer_(new QTimer(this)) {
    ui->setupUi(this);
    // A single-line border and no system menu: the window has no close box of its own.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui->ImageMarks->setPixmap(DrawMarksLogo(ui->ImageMarks->width()));
    timer_->setObjectName("Timer");
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &TFormAbout::TimerTimer);
    connect(ui->ButtonClose, &QPushButton::clicked, this, &TFormAbout::ButtonCloseClick);
    connect(ui->ButtonLicences, &QPushButton::clicked, this, &TFormAbout::ButtonLicencesClick);

    FitClientToControls(this);
    PrepareDialogKeys(this, ui->ButtonClose, ui->ButtonClose);
    tickCount_ = 0;
    ui->ButtonClose->hide();
    ui->ButtonLicences->hide();
    timer_->stop();
    ui->LabelPartNumber->show();
    ui->ImageMarks->show();
    ui->LabelMarks->show();
    ui->GroupBox->resize(ui->GroupBox->width(), kGroupHeight);
    ui->ButtonClose->move(ui->ButtonClose->x(), kCloseTop);
    resize(width(), kWindowHeight);
}

TFormAbout::~TFormAbout() {
    delete ui;
}

void TFormAbout::SetStayOnTop(bool onTop) {
    SetStaysOnTop(this, onTop);
}

void TFormAbout::ShowSplash(const QRect& bounds) {
    PlaceOver(this, bounds, true);
    ui->ButtonClose->hide();
    ui->ButtonLicences->hide();
    timer_->start();
    SetStayOnTop(true);
    tickCount_ = 0;
    show();
}

void TFormAbout::TimerTimer() {
    ++tickCount_;
    if (tickCount_ > kSplashTicks) {
        timer_->stop();
        SetStayOnTop(false);
        hide();
    }
}

void TFormAbout::ShowOver(const QRect& bounds) {
    PlaceOver(this, bounds, true);
    ui->ButtonClose->show();
    ui->ButtonLicences->show();
    SetStayOnTop(false);
    show();
}

void TFormAbout::ButtonCloseClick() {
    hide();
}

void TFormAbout::ButtonLicencesClick() {
    if (licences_ == nullptr) {
        licences_ = CreateLicencesWindow(this);
    }
    PlaceOver(licences_, frameGeometry(), true);
    licences_->show();
    licences_->raise();
}

QDialog* CreateLicencesWindow(QWidget* parent) {
    auto* window = new QDialog(parent);
    window->setObjectName("FormLicences");
    window->setWindowTitle(QStringLiteral("Licences"));
    auto* tabs = new QTabWidget(window);
    tabs->setObjectName("TabsLicences");
    const struct {
        const char* title;
        const char* resource;
    } texts[] = {
        {"Third-party notices", ":/licences/packaging/THIRD-PARTY-NOTICES.txt"},
        {"GNU GPL 3.0", ":/licences/LICENSE"},
        {"GNU LGPL 3.0", ":/licences/packaging/licences/LGPL-3.0.txt"},
        {"GCC Runtime Library Exception", ":/licences/packaging/licences/GCC-exception-3.1.txt"},
        {"ZPL 2.1", ":/licences/packaging/licences/ZPL-2.1.txt"},
    };
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const auto& text : texts) {
        QFile file(QLatin1String(text.resource));
        auto* page = new QPlainTextEdit(tabs);
        page->setReadOnly(true);
        page->setFont(fixed);
        page->setLineWrapMode(QPlainTextEdit::NoWrap);
        page->setPlainText(file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                          : QStringLiteral("(missing from this build)"));
        tabs->addTab(page, QLatin1String(text.title));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::hide);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    const int columns = QFontMetrics(fixed).horizontalAdvance(QString(100, QLatin1Char('M')));
    window->resize(std::min(columns, 900), 520);
    return window;
}

QWidget* TFormAbout::ButtonClose() const {
    return ui->ButtonClose;
}
