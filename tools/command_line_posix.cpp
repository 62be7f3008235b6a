#include "tools/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

std::size_t TerminalColumns() {
    constexpr std::size_t kNoTerminal = 80;
    winsize size{};
    if (isatty(STDOUT_FILENO) != 1 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_col == 0) {
        return kNoTerminal;
    }
    return size.ws_col;
}

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}
