#pragma once
// Serial-line helpers of the simulator: baud rates as termios speeds and back, and raw setup.
#include <termios.h>

#include <cstdint>

// The termios speed for a rate, or B0 when there is none.
speed_t SpeedForBaud(uint32_t baud);
// The rate for a termios speed, or 0 when it is not one the receiver knows.
uint32_t BaudForSpeed(speed_t speed);
// Raw 8N1, receiver on, modem lines ignored, at the given rate. False when the fd refuses.
bool SetRawLine(int fd, uint32_t baud);
