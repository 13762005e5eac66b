#include "ui/Mdbform.h"

#include <QLabel>

#include "link/Port.h"
#include "proto/Frame.h"
#include "proto/Messages.h"
#include "ui/Keyboard.h"
#include "ui/Msgrouting.h"
#include "ui/Scaleutils.h"
#include "ui/Windowplaces.h"
#include "ui_Mdbform.h"

TFormMDB* FormMDB = nullptr;

TFormMDB::TFormMDB(QWidget* parent) : QDialog(parent), ui(new Ui::TFormMDB) {
    ui->setupUi(this);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &QWidget::hide);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &QWidget::hide);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormMDB::RequestHardwareInfo);
    RegisterRecipient(msgid::kHardware,
                      {this, [this](const uint8_t* f, int32_t n) { OnHardwareInfo(f, n); }, 0});
    ShowHardwareInfo();
    FitClientToControls(this);
    PrepareDialogKeys(this, ui->ButtonOK, ui->ButtonOK);
}

TFormMDB::~TFormMDB() {
    RegisterRecipient(msgid::kHardware, {});
    delete ui;
}

QLabel* TFormMDB::ValueLabel(const char* name) const {
    return findChild<QLabel*>(QString::fromLatin1(name));
}

void TFormMDB::ShowOver(const QRect& bounds) {
    if (!positioned) {
        PlaceAtFirstShowing(this, bounds);
        positioned = true;
    }
    EmptyLabels();
    RequestHardwareInfo();
    show();
    raise();
}

void TFormMDB::RequestHardwareInfo() {
    uint8_t frame[request::kFrameLength];
    const uint16_t length = build_request_frame(msgid::kHardware, request::kStandardMode, 0, frame);
    Link().line.Write(frame, length);
}

void TFormMDB::OnHardwareInfo(const uint8_t* frame, int32_t length) {
    if (frame == nullptr || length < frame::kOverhead || frame[frame::kIdOffset] != msgid::kHardware) {
        return;
    }
    // A reply too short for the fields read is ignored rather than read past its end.
    if (auto info = DecodeHardwareInfo(frame + frame::kPayloadOffset,
                                       static_cast<size_t>(length) - frame::kOverhead)) {
        received = std::move(info);
        ShowHardwareInfo();
    }
}

void TFormMDB::EmptyLabels() {
    for (QLabel* label : {ui->Label_SN, ui->Label_PN, ui->Label_VN, ui->Label_CN}) {
        label->clear();
    }
}

void TFormMDB::ShowHardwareInfo() {
    if (!received) {
        EmptyLabels();
        return;
    }
    ui->Label_PN->setText(QString::fromLatin1(received->partNumber.c_str()));
    ui->Label_CN->setText(QString::fromLatin1(received->compatibility.c_str()));
    ui->Label_SN->setText(QString::number(received->serialNumber));
    ui->Label_VN->setText(QString::number(received->versionNumber));
}
