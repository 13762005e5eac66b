#pragma once
// What the other windows need of the main window, without its whole class: the port search
// judges by the messages the receive loop counts, a calibration pauses the receive loop while
// it polls, and a software load, which owns the line on a thread of its own, shows the port's
// state and keeps the main window's controls and receive loop still until it ends.
#include <cstdint>
#include <string>

class QTimer;

class MainWindowAccess {
  public:
    // Messages the receive loop counted, and the id of the last binary frame.
    virtual int32_t MessageCount() const = 0;
    virtual int32_t LastMessageId() const = 0;
    // The port panel from the given values (a load's thread sends copies of its own).
    virtual void ShowPortState(const std::string& portName, int32_t baudRate, bool open) = 0;
    // The receive loop's timer.
    virtual QTimer* ReceiveTimer() const = 0;
    // While false, the main window's own menus and display take no input and its receive
    // loop does not run.
    virtual void SetPortUserActive(bool active) = 0;

  protected:
    ~MainWindowAccess() = default;
};

// The main window, or null while there is none.
MainWindowAccess* MainWindow();
void SetMainWindow(MainWindowAccess* window);
