#pragma once
// The tool's side of the user's terminal: whether standard output is a terminal, how wide it
// is, and standard input read a byte at a time with a time limit, so that a command can keep
// reading the port while it waits for the user. One backend per platform: Console_posix.cpp
// (poll on the descriptor) and Console_win32.cpp (a reader thread, because a console, a pipe
// and a file each need another kind of wait on Windows); Console.cpp holds what they share.
#include <string>

// True when standard output is a terminal (a console window on Windows), not a pipe or file.
bool StdoutIsTerminal();

// Lets standard output take the cursor movements with which rows are redrawn in place (on
// Windows, a console must be told to read them). False when it cannot.
bool EnableTerminalRedraw();

// The width in columns of the terminal that standard output shows, as the platform tells it
// (TIOCGWINSZ; the console screen buffer on Windows); 0 when it does not.
int ConsoleColumns();

// A line to be redrawn in place on standard output's terminal, cut so that it cannot wrap: a
// wrapped line takes two rows, and the next redraw, which moves up one row per line, would
// leave its first part behind. The width is ConsoleColumns(), else the COLUMNS variable, else
// 80; the last column stays free, since some consoles wrap as soon as it is written. A UTF-8
// character is never cut in two.
std::string FitToTerminal(const std::string& line);
// The same for a given width in columns.
std::string FitToColumns(const std::string& line, int columns);

enum class InputWait {
    kByte,     // a byte was read
    kTimeOut,  // nothing came within the wait
    kEnd,      // standard input has ended (or cannot be read)
};

// Waits at most `waitMs` milliseconds for the next byte of standard input.
InputWait NextInputByte(char& byte, int waitMs);
