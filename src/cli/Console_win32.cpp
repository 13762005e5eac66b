// Windows backend of Console.h. Standard input may be a console, a pipe or a file, and no
// single wait works for all three (a console handle is signalled by mouse and focus events
// too, a pipe handle cannot be waited on at all), so a thread reads it with ReadFile and
// hands the bytes over through a queue that the caller waits on with a time limit.
#include <windows.h>

#include <io.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "cli/Console.h"

namespace {

class InputReader {
  public:
    InputReader() {
        // Detached: at exit the thread may still sit in ReadFile, and the process ends it.
        std::thread([this] { ReadUntilEnd(); }).detach();
    }

    InputWait Next(char& byte, int waitMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::milliseconds(waitMs),
                          [this] { return !bytes_.empty() || ended_; });
        if (!bytes_.empty()) {
            byte = bytes_.front();
            bytes_.pop_front();
            return InputWait::kByte;
        }
        return ended_ ? InputWait::kEnd : InputWait::kTimeOut;
    }

  private:
    void ReadUntilEnd() {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char chunk[256];
        DWORD count = 0;
        // A console in line mode hands over a whole line at Enter; Ctrl-Z ends the input.
        while (input != nullptr && input != INVALID_HANDLE_VALUE &&
               ReadFile(input, chunk, sizeof chunk, &count, nullptr) && count > 0) {
            const std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), chunk, chunk + count);
            arrived_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<char> bytes_;
    bool ended_ = false;
};

}  // namespace

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

bool EnableTerminalRedraw() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(output, &mode) != 0 &&
           SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int ConsoleColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;  // the visible window, not the buffer
}

InputWait NextInputByte(char& byte, int waitMs) {
    // Started at the first wait and never destroyed: the reader thread may outlive main().
    static InputReader* const reader = new InputReader;
    return reader->Next(byte, waitMs);
}
