#include "app/Forms.h"

#include <QComboBox>

#include "link/Port.h"
#include "ui/Aboutform.h"
#include "ui/Accuracyform.h"
#include "ui/Helpform.h"
#include "ui/Loadsetupform.h"
#include "ui/Mainform.h"
#include "ui/Mdbform.h"
#include "ui/Noteform.h"
#include "ui/Portform.h"
#include "ui/Rcvrportform.h"
#include "ui/Statusform.h"
#include "ui/Tcmcalibstatusform.h"
#include "ui/Waitform.h"

// The main window first: the windows after it refresh its status bar as they are built.
void CreateForms() {
    FormMain = new TFormMain;
    SetPortStatusHook([] {
        if (FormMain != nullptr) {
            FormMain->ShowPortState();
        }
    });
    FormAbout = new TFormAbout(FormMain);
    FormPort = new TFormPort(FormMain);
    FormRcvrPort = new TFormRcvrPort(FormMain);
    FormPort->onReceiverFound = [](int rateIndex) {
        FormRcvrPort->ComboBoxBaudRate()->setCurrentIndex(rateIndex);
    };
    FormHelp = new TFormHelp(FormMain);
    FormNote = new TFormNote(FormMain);
    FormWait = new TFormWait(FormMain);
    FormLoadSetup = new TFormLoadSetup(FormMain);
    FormRcvrPort->forwardToLoader = [](const uint8_t* frame, int32_t length) {
        FormLoadSetup->OnConfigMessage(frame, length);
    };
    FormMDB = new TFormMDB(FormMain);
    FormTCMCalibStatus = new TFormTCMCalibStatus(FormMain);
    FormStatus = new TFormStatus(FormMain);
    FormAccuracy = new TFormAccuracy(FormMain);
}

void DestroyForms() {
    delete FormAccuracy;
    FormAccuracy = nullptr;
    delete FormStatus;
    FormStatus = nullptr;
    delete FormTCMCalibStatus;
    FormTCMCalibStatus = nullptr;
    delete FormMDB;
    FormMDB = nullptr;
    if (FormRcvrPort != nullptr) {
        FormRcvrPort->forwardToLoader = nullptr;
    }
    delete FormLoadSetup;
    FormLoadSetup = nullptr;
    delete FormWait;
    FormWait = nullptr;
    delete FormNote;
    FormNote = nullptr;
    delete FormHelp;
    FormHelp = nullptr;
    delete FormRcvrPort;
    FormRcvrPort = nullptr;
    delete FormPort;
    FormPort = nullptr;
    delete FormAbout;
    FormAbout = nullptr;
    SetPortStatusHook(nullptr);
    delete FormMain;
    FormMain = nullptr;
}
