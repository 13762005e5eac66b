// What both backends of Console.h share: fitting a line to the terminal's width.
#include <cstdlib>

#include "cli/Console.h"

namespace {
constexpr int kDefaultColumns = 80;  // a terminal that tells nothing is taken to be this wide

int TerminalColumns() {
    if (const int columns = ConsoleColumns(); columns > 0) {
        return columns;
    }
    if (const char* variable = std::getenv("COLUMNS"); variable != nullptr) {
        char* end = nullptr;
        const long columns = std::strtol(variable, &end, 10);
        if (end != variable && *end == '\0' && columns > 0 && columns <= 10'000) {
            return static_cast<int>(columns);
        }
    }
    return kDefaultColumns;
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

std::string FitToColumns(const std::string& line, int columns) {
    if (columns <= 0) {
        return {};
    }
    int counted = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (IsContinuationByte(line[i])) {
            continue;
        }
        if (counted == columns) {
            return line.substr(0, i);
        }
        ++counted;
    }
    return line;
}

std::string FitToTerminal(const std::string& line) {
    return FitToColumns(line, TerminalColumns() - 1);
}
