#pragma once
// The tool's side of the user's terminal: whether standard output is a terminal, and
// standard input read a byte at a time with a time limit, so that a command can keep
// reading the port while it waits for the user. One backend per platform: Console_posix.cpp
// (poll on the descriptor) and Console_win32.cpp (a reader thread, because a console, a pipe
// and a file each need another kind of wait on Windows).

// True when standard output is a terminal (a console window on Windows), not a pipe or file.
bool StdoutIsTerminal();

// Lets standard output take the cursor movements with which rows are redrawn in place (on
// Windows, a console must be told to read them). False when it cannot.
bool EnableTerminalRedraw();

enum class InputWait {
    kByte,     // a byte was read
    kTimeOut,  // nothing came within the wait
    kEnd,      // standard input has ended (or cannot be read)
};

// Waits at most `waitMs` milliseconds for the next byte of standard input.
InputWait NextInputByte(char& byte, int waitMs);
