#include "app/Forms.h"

#include "app/Mainform.h"
#include "link/Port.h"
#include "link/Portform.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
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
    FormHelp = new TFormHelp(FormMain);
    FormNote = new TFormNote(FormMain);
    FormWait = new TFormWait(FormMain);
}

void DestroyForms() {
    delete FormWait;
    FormWait = nullptr;
    delete FormNote;
    FormNote = nullptr;
    delete FormHelp;
    FormHelp = nullptr;
    delete FormPort;
    FormPort = nullptr;
    delete FormAbout;
    FormAbout = nullptr;
    SetPortStatusHook(nullptr);
    delete FormMain;
    FormMain = nullptr;
}
