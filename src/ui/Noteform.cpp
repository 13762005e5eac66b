#include "ui/Noteform.h"

#include "ui/Scaleutils.h"
#include "ui_Noteform.h"

TFormNote* FormNote = nullptr;

void LayOutMessage(QWidget* window, QLabel* label, const QWidget* button, const QRect& bounds,
                   const QString& text) {
    PlaceOver(window, bounds, false);
    const int clientWidth = window->width();
    const int labelWidth = clientWidth - 20;
    const int labelTop = 10;
    label->setText(text);
    label->setWordWrap(true);
    label->setGeometry((clientWidth - labelWidth) / 2, labelTop, labelWidth, button->y() - labelTop - 8);
}

TFormNote::TFormNote(QWidget* parent) : QDialog(parent), ui(new Ui::TFormNote) {
    ui->setupUi(this);
    setModal(true);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
}

TFormNote::~TFormNote() {
    delete ui;
}

void TFormNote::ShowMessageOver(const QRect& bounds, const QString& text) {
    LayOutMessage(this, ui->Label, ui->ButtonOK, bounds, text);
    exec();
}

QLabel* TFormNote::Label() const {
    return ui->Label;
}
QWidget* TFormNote::ButtonOK() const {
    return ui->ButtonOK;
}
