// POSIX backend of Console.h: poll() on standard input.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/Console.h"

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

bool EnableTerminalRedraw() {
    return true;  // terminals read the escape sequences as they are
}

int ConsoleColumns() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

InputWait NextInputByte(char& byte, int waitMs) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, waitMs) <= 0) {
        return InputWait::kTimeOut;
    }
    return read(STDIN_FILENO, &byte, 1) == 1 ? InputWait::kByte : InputWait::kEnd;
}
