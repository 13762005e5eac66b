#pragma once
// Pieces of the POSIX serial backend that need no device, kept apart so that their rules
// can be checked directly (a pseudo-terminal ignores parity and data bits).
#include <termios.h>

#include <cstdint>
#include <string>

// The termios speed for a rate the program uses (4800 to 115200); false for any other.
bool SpeedOfRate(uint32_t baudRate, speed_t& speed);
// Raw 8-bit bytes, 1 stop bit, parity from the selector (1 odd, 3 even, else none), no
// XON/XOFF or RTS/CTS flow control, modem lines ignored, receiver on. Leaves the speed.
void MakeLineSettings(termios& settings, int parity);
// "ttyUSB0" means /dev/ttyUSB0; a name containing '/' is a path and stays as it is.
std::string DevicePath(const std::string& name);
// The error text for a device the user may not open: its group and how to join it (most
// serial adapters belong to a group such as dialout that a new user is not in).
std::string PermissionDeniedText(const std::string& path);
