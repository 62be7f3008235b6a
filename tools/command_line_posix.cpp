#include "tools/command_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

std::size_t TerminalColumns() {
    constexpr std::size_t kNoTerminal = 80;
    winsize size{};
    if (isatty(STDOUT_FILENO) != 1 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        size.ws_col == 0) {
        return kNoTerminal;
    }
    return size.ws_col;
}

LineStatus IsTerminal(StandardStream stream, bool& terminal) {
    const bool input = stream == StandardStream::kInput;
    terminal = isatty(input ? STDIN_FILENO : STDOUT_FILENO) == 1;
    const int error = errno;
    // isatty fails with ENOTTY (some systems EINVAL) for a pipe or a file:
    // that is the answer, not a failure.
    if (!terminal && error != ENOTTY && error != EINVAL) {
        return SystemFailure(LineError::kOther,
                             input ? "cannot use standard input" : "cannot use standard output",
                             error);
    }
    return {};
}
