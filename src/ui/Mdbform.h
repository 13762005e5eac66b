#pragma once
// The hardware information dialog: asks for message 218 and shows the receiver's serial,
// part, version and compatibility numbers.
#include <QDialog>
#include <cstdint>
#include <optional>

#include "config/Hardwaremsg.h"

namespace Ui {
class TFormMDB;
}
class QLabel;

class TFormMDB : public QDialog {
    Q_OBJECT
  public:
    explicit TFormMDB(QWidget* parent = nullptr);
    ~TFormMDB() override;

    void ShowOver(const QRect& bounds);
    void RequestHardwareInfo();
    void OnHardwareInfo(const uint8_t* frame, int32_t length);
    void ShowHardwareInfo();

    QLabel* ValueLabel(const char* name) const;

    bool positioned = false;
    std::optional<HardwareInfo> received;  // the last reply, once one has come

  private:
    void EmptyLabels();

    Ui::TFormMDB* ui;
};

extern TFormMDB* FormMDB;
