#include "tools/display/live_terminal_posix.h"

#include "serial/posix/retry.h"
#include "tools/display/display_frame.h"
#include "tools/display/display_loop.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <utility>

LineStatus LiveTerminal::Enter() {
    if (!live_) {
        return {};
    }
    entered_ = true;
    if (keys_ && !keys_set_) {
        const auto got = Retry([&] { return tcgetattr(STDIN_FILENO, &saved_); });
        if (got.failed()) {
            // Standard input that is no terminal, or none, gives no keys.
            if (got.error != ENOTTY && got.error != EBADF && got.error != EINVAL) {
                return SystemFailure(LineError::kOther, "cannot read the terminal's settings",
                                     got.error);
            }
        } else {
            termios quiet = saved_;
            quiet.c_lflag &= ~tcflag_t{ICANON | ECHO};
            quiet.c_cc[VMIN] = 1;
            quiet.c_cc[VTIME] = 0;
            if (const auto set = Retry([&] { return tcsetattr(STDIN_FILENO, TCSANOW, &quiet); });
                set.failed()) {
                return SystemFailure(LineError::kOther, "cannot turn the echo off", set.error);
            }
            keys_set_ = true;
        }
    }
    return WriteOut(kEnterLive);
}

LineStatus LiveTerminal::Leave() {
    if (!std::exchange(entered_, false)) {
        return {};
    }
    LineStatus status = WriteOut(kLeaveLive);
    if (std::exchange(keys_set_, false)) {
        if (const auto set = Retry([&] { return tcsetattr(STDIN_FILENO, TCSANOW, &saved_); });
            set.failed() && status.ok()) {
            status = SystemFailure(LineError::kOther, "cannot put the terminal back", set.error);
        }
    }
    return status;
}

LineStatus LiveTerminal::Close() {
    const bool was_live = entered_;
    LineStatus status = Leave();
    std::string last;
    for (const std::string& line : last_frame_) {
        last += line + "\n";
    }
    if (LineStatus written = was_live ? WriteOut(last) : LineStatus{}; status.ok()) {
        status = written;
    }
    return status;
}

int LiveTerminal::KeyFd() const {
    return keys_set_ && reading_keys_ ? STDIN_FILENO : -1;
}

LineStatus LiveTerminal::Draw(std::vector<std::string> frame, bool clear) {
    if (!clear && frame == last_frame_) {
        return {};
    }
    last_frame_ = std::move(frame);
    return WriteOut((clear ? "\x1b[2J" : "") + ScreenText(last_frame_));
}

std::pair<unsigned, unsigned> TerminalSize() {
    winsize size{};
    if (Retry([&] { return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size); }).failed()) {
        return {0, 0};
    }
    return {size.ws_col, size.ws_row};
}

bool NoColourWanted() {
    const char* value = std::getenv("NO_COLOR");
    return value != nullptr && *value != '\0';
}

bool DumbTerminal() {
    const char* term = std::getenv("TERM");
    return term != nullptr && std::string_view(term) == "dumb";
}
