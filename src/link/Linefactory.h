#pragma once
// The one place that reads a device name: "rfc2217://HOST:PORT" and "tcp://HOST:PORT" name a
// line on the network (Netline.h), any other name a serial device (Serialport.h).
#include <memory>
#include <string>

#include "link/Line.h"

// A closed line of the kind the name calls for; Open it with the same name.
std::unique_ptr<Line> MakeLine(const std::string& name);

// True for a name that no port list shows (an address on the network), so that a dialog
// keeps it on offer once the user has typed it.
bool IsTypedLineName(const std::string& name);
