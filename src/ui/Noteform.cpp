#include "ui/Noteform.h"

#include <QVariant>
#include <algorithm>

#include "ui/Keyboard.h"
#include "ui/Scaleutils.h"
#include "ui_Noteform.h"

TFormNote* FormNote = nullptr;

void LayOutMessage(QWidget* window, QLabel* label, QWidget* button, const QRect& bounds,
                   const QString& text) {
    // The designed height is the least; a text that needs more lines makes the window taller
    // rather than being cut off. The button keeps its distance from the bottom edge.
    constexpr const char* kDesignHeight = "lctDesignHeight";
    if (!window->property(kDesignHeight).isValid()) {
        window->setProperty(kDesignHeight, window->height());
    }
    const int buttonGap = window->height() - button->y();
    const int clientWidth = window->width();
    const int labelWidth = clientWidth - 20;
    const int labelTop = 10;
    const int labelBottomGap = 8;
    label->setText(text);
    label->setWordWrap(true);
    const int designLabelHeight =
        window->property(kDesignHeight).toInt() - buttonGap - labelTop - labelBottomGap;
    const int labelHeight = std::max(designLabelHeight, label->heightForWidth(labelWidth));
    window->resize(clientWidth, labelTop + labelHeight + labelBottomGap + buttonGap);
    button->move(button->x(), window->height() - buttonGap);
    label->setGeometry((clientWidth - labelWidth) / 2, labelTop, labelWidth, labelHeight);
    PlaceOver(window, bounds, false);
}

TFormNote::TFormNote(QWidget* parent) : QDialog(parent), ui(new Ui::TFormNote) {
    ui->setupUi(this);
    setModal(true);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    PrepareDialogKeys(this, ui->ButtonOK, ui->ButtonOK);
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
