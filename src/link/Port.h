#pragma once
// The link state that every window shares: the line to the receiver, the receive path that
// turns its bytes into messages, and the port name and rate in use or last tried.
//
// Everything here runs on the user-interface thread only, but for a software load, which owns
// the line on a thread of its own while the windows leave it alone.
#include <cstdint>
#include <functional>
#include <string>

#include "link/Anyline.h"
#include "link/Receivepath.h"

// Members in order of construction. Port name and rate describe the port in use or last
// tried, open or not.
struct LinkState {
    AnyLine line;
    ReceivePath receive;
    std::string portName;
    int32_t baudRate = 0;
};

// The one link state of the program, constructed before main runs.
LinkState& Link();

// The main window installs the routine that shows the port state; link never includes it.
void SetPortStatusHook(std::function<void()> hook);
// Refreshes the port display through the hook, if one is installed.
void UpdatePortStatus();
