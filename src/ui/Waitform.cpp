#include "ui/Waitform.h"

#include "ui/Keyboard.h"
#include "ui/Noteform.h"
#include "ui_Waitform.h"

TFormWait* FormWait = nullptr;

TFormWait::TFormWait(QWidget* parent) : QDialog(parent), ui(new Ui::TFormWait) {
    ui->setupUi(this);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, [this] {
        if (cancelHandler_) {
            // Copy first: the handler usually detaches itself.
            auto handler = cancelHandler_;
            handler();
        }
    });
    PrepareDialogKeys(this, ui->ButtonCancel, ui->ButtonCancel);
}

// Escape and the close box cancel what is waited for, as the Cancel button does; with nothing
// to cancel they only close the window.
void TFormWait::reject() {
    if (cancelHandler_) {
        ui->ButtonCancel->click();
    } else {
        QDialog::reject();
    }
}

TFormWait::~TFormWait() {
    delete ui;
}

void TFormWait::ShowWaitOver(const QRect& bounds, const QString& text) {
    LayOutMessage(this, ui->Label, ui->ButtonCancel, bounds, text);
    show();
}

void TFormWait::SetCancelHandler(std::function<void()> handler) {
    cancelHandler_ = std::move(handler);
}

QLabel* TFormWait::Label() const {
    return ui->Label;
}
QWidget* TFormWait::ButtonCancel() const {
    return ui->ButtonCancel;
}
