#include "ui/Tcmcalibstatusform.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "link/Port.h"
#include "proto/Bytes.h"
#include "proto/Messages.h"
#include "ui/Keyboard.h"
#include "ui/Mainaccess.h"
#include "ui/Scaleutils.h"
#include "ui/Windowplaces.h"
#include "ui_Tcmcalibstatusform.h"

TFormTCMCalibStatus* FormTCMCalibStatus = nullptr;

namespace {
// The wizard's captions with their access keys; Continue and Cancel stand side by side.
QString WithAccessKey(const std::string& caption) {
    if (caption == "Continue") {
        return QStringLiteral("Co&ntinue");
    }
    return caption.empty() ? QString() : u'&' + QString::fromStdString(caption);
}

void ShowButton(QPushButton* button, const ButtonView& view) {
    button->setText(WithAccessKey(view.caption));
    button->setEnabled(view.enabled);
    button->setVisible(view.visible);
}

// Every poll is answered, and the answers to a measurement's polls end with this much quiet.
constexpr int kAnswersQuietMs = 300;

QTimer* ReceiveTimer() {
    return MainWindow() != nullptr ? MainWindow()->ReceiveTimer() : nullptr;
}
}  // namespace

TFormTCMCalibStatus::TFormTCMCalibStatus(QWidget* parent)
    : QDialog(parent),
      ui(new Ui::TFormTCMCalibStatus),
      timer_(new QTimer(this)),
      drainTimer_(new QTimer(this)) {
    ui->setupUi(this);
    timer_->setObjectName("Timer");
    connect(timer_, &QTimer::timeout, this, &TFormTCMCalibStatus::TimerTimer);
    drainTimer_->setSingleShot(true);
    drainTimer_->setInterval(kAnswersQuietMs);
    connect(drainTimer_, &QTimer::timeout, this, &TFormTCMCalibStatus::ShowView);
    connect(ui->Button1, &QPushButton::clicked, this, &TFormTCMCalibStatus::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TFormTCMCalibStatus::Button2Click);
    FitClientToControls(this);
    PrepareDialogKeys(this, ui->Button1, ui->Button1);
    // Enter presses Continue (or the OK that ends the calibration), never a Cancel that took
    // the focus when Continue was disabled under it.
    ui->Button1->setAutoDefault(false);
    ui->Button2->setAutoDefault(false);
    positioned = false;
}

TFormTCMCalibStatus::~TFormTCMCalibStatus() {
    delete ui;
}

QLabel* TFormTCMCalibStatus::LabelStatus(int line) const {
    return line == 1 ? ui->LabelStatus1 : line == 2 ? ui->LabelStatus2 : ui->LabelStatus3;
}
QPushButton* TFormTCMCalibStatus::Button1() const {
    return ui->Button1;
}
QPushButton* TFormTCMCalibStatus::Button2() const {
    return ui->Button2;
}

void TFormTCMCalibStatus::ShowOver(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
    ui->Button1->setFocusPolicy(Qt::StrongFocus);
    ui->Button2->setFocusPolicy(Qt::StrongFocus);
    wizard_.Open();
    drainTimer_->stop();
    ShowView();
    show();
    raise();
}

void TFormTCMCalibStatus::Button1Click() {
    if (drainTimer_->isActive()) {
        return;  // Continue is disabled until the first measurement's answers have ended
    }
    Apply(wizard_.Continue());
}
void TFormTCMCalibStatus::Button2Click() {
    Apply(wizard_.Cancel());
}
void TFormTCMCalibStatus::TimerTimer() {
    Apply(wizard_.PollTick());
}

void TFormTCMCalibStatus::OnCalibrationMessage(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length < frame::kOverhead || frame[frame::kIdOffset] != msgid::kConfig) {
        return;
    }
    const uint8_t* payload = frame + frame::kPayloadOffset;
    const auto payloadLength = static_cast<size_t>(length - frame::kOverhead);
    if (payloadLength <= config::kCalibrationCommand) {
        return;
    }
    const int32_t value =
        payloadLength >= config::kCalibrationValue + 4u ? get_le32s(payload + config::kCalibrationValue) : 0;
    Apply(wizard_.Reply(payload[config::kCalibrationCommand], value));
    if (wizard_.Step() == CalibrationStep::SecondPosition) {
        // The answers to the first measurement's later polls are still on their way; one
        // taken after Continue would end the second measurement. Continue waits for quiet.
        ui->Button1->setEnabled(false);
        drainTimer_->start();
    }
}

void TFormTCMCalibStatus::Send(uint8_t command) {
    const uint16_t length = BuildConfigFrame(EncodeCalibrationCommand(command), frameBuffer_);
    Link().line.Write(frameBuffer_, length);
}

void TFormTCMCalibStatus::Apply(const CalibrationEffects& fx) {
    if (fx.send) {
        Send(*fx.send);
    }
    if (fx.startPolling) {
        if (QTimer* receive = ReceiveTimer()) {
            receive->stop();
        }
        timer_->start(TcmCalibration::kPollIntervalMs);
    }
    if (fx.stopPolling) {
        if (QTimer* receive = ReceiveTimer()) {
            receive->start();
        }
        timer_->stop();
    }
    ShowView();
    if (fx.hideWindow) {
        hide();
    }
}

void TFormTCMCalibStatus::ShowView() {
    const CalibrationView& view = wizard_.View();
    ui->LabelStatus1->setText(QString::fromStdString(view.status1));
    ui->LabelStatus2->setText(QString::fromStdString(view.status2));
    ui->LabelStatus3->setText(QString::fromStdString(view.status3));
    ShowButton(ui->Button1, view.button1);
    ShowButton(ui->Button2, view.button2);
    (view.button1.visible ? ui->Button1 : ui->Button2)->setDefault(true);
}

// Escape and the close box, once a calibration has begun, cancel as the Cancel button does: the
// polls stop and the receiver is told, instead of the window going while the polls run on.
// Before it has begun, or after it has ended, they only close the window.
void TFormTCMCalibStatus::reject() {
    const CalibrationStep step = wizard_.Step();
    const bool begun = step != CalibrationStep::FirstPosition && step != CalibrationStep::Finished;
    if (begun && ui->Button2->isVisible() && ui->Button2->isEnabled()) {
        Button2Click();
    } else {
        hide();
    }
}
