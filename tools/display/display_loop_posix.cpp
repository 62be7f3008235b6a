#include "tools/display/display_loop.h"

#include "tools/display/display_frame.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// At most about 30 frames a second: arrivals closer than this are drawn
// together.
constexpr std::chrono::milliseconds kFramePause(33);

// Reads of a port after the end was asked for: a pseudo-terminal holds far
// less than this many buffers.
constexpr int kReadsAfterTheEnd = 16;

// The signals that end the program, and the one that asks for a redraw,
// reach the loop through a pipe that poll watches with the input.
int signal_pipe_write = -1;

extern "C" void NoteSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = write(signal_pipe_write, &byte, 1);
    errno = saved;
}

// The first three end the program; SIGWINCH and SIGCONT ask for a redraw;
// SIGTSTP (Ctrl+Z) stops it once the terminal is as it was.
constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGCONT, SIGTSTP};

// What the signals that came ask for.
struct SignalsTaken {
    bool end = false;
    bool redraw = false;
    bool stop = false;
};

class SignalPipe {
  public:
    SignalPipe() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        read_end_ = UniqueFd(ends[0]);
        write_end_ = UniqueFd(ends[1]);
        signal_pipe_write = ends[1];
        action_.sa_handler = NoteSignal;
        sigemptyset(&action_.sa_mask);
        for (int number : kWatchedSignals) {
            sigaction(number, &action_, &saved_[Index(number)]);
        }
        // Started without job control (SIGTSTP ignored): Ctrl+Z stays ignored.
        if (saved_[Index(SIGTSTP)].sa_handler == SIG_IGN) {
            sigaction(SIGTSTP, &saved_[Index(SIGTSTP)], nullptr);
        }
    }
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;
    ~SignalPipe() {
        if (!read_end_.is_open()) {
            return;
        }
        for (int number : kWatchedSignals) {
            sigaction(number, &saved_[Index(number)], nullptr);
        }
        signal_pipe_write = -1;
    }

    int fd() const { return read_end_.get(); }
    bool ok() const { return read_end_.is_open(); }

    SignalsTaken Take() {
        char numbers[64];
        SignalsTaken taken;
        ssize_t count;
        while ((count = read(read_end_.get(), numbers, sizeof numbers)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                taken.redraw |= numbers[i] == SIGWINCH || numbers[i] == SIGCONT;
                taken.stop |= numbers[i] == SIGTSTP;
                taken.end |= numbers[i] == SIGINT || numbers[i] == SIGTERM || numbers[i] == SIGHUP;
            }
        }
        return taken;
    }

    // Stops the program as Ctrl+Z does; returns when it is continued.
    void StopHere() {
        signal(SIGTSTP, SIG_DFL);
        raise(SIGTSTP);
        sigaction(SIGTSTP, &action_, nullptr);
    }

  private:
    static int Index(int number) { return number % 32; }
    UniqueFd read_end_;
    UniqueFd write_end_;
    struct sigaction action_ {};
    struct sigaction saved_[32]{};
};

// The terminal in live mode, and as it was again on every way out: its
// screen and, when keys are read, its input without echo and line editing.
class LiveTerminal {
  public:
    LiveTerminal(bool live, bool keys) : live_(live), keys_(live && keys) { Enter(); }
    LiveTerminal(const LiveTerminal&) = delete;
    LiveTerminal& operator=(const LiveTerminal&) = delete;
    ~LiveTerminal() {
        if (live_) {
            Leave();
            std::string last;
            for (const std::string& line : last_frame_) {
                last += line + "\n";
            }
            WriteOut(last);
        }
    }

    void Enter() {
        if (!live_) {
            return;
        }
        if (keys_ && tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~tcflag_t{ICANON | ECHO};
            quiet.c_cc[VMIN] = 1;
            quiet.c_cc[VTIME] = 0;
            keys_set_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
        }
        WriteOut(kEnterLive);
    }

    void Leave() {
        if (!live_) {
            return;
        }
        WriteOut(kLeaveLive);
        if (keys_set_) {
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
            keys_set_ = false;
        }
    }

    // Where keys come from, or -1 (which poll passes over).
    int KeyFd() const { return keys_set_ ? STDIN_FILENO : -1; }
    void StopReadingKeys() { keys_ = false; }

    // Draws the frame when it differs from the one on the screen.
    bool Draw(std::vector<std::string> frame, bool clear) {
        if (!clear && frame == last_frame_) {
            return true;
        }
        last_frame_ = std::move(frame);
        return WriteOut((clear ? "\x1b[2J" : "") + ScreenText(last_frame_));
    }

  private:
    bool live_;
    bool keys_;
    bool keys_set_ = false;
    termios saved_{};
    std::vector<std::string> last_frame_;
};

// The terminal's size, or 0 by 0 when it cannot tell.
std::pair<unsigned, unsigned> TerminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return {0, 0};
    }
    return {size.ws_col, size.ws_row};
}

int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

} // namespace

namespace {

// The loop's state between polls.
class Session {
  public:
    Session(DisplaySource& source, Module& module, const LoopOptions& options)
        : source_(source), module_(module), options_(options),
          terminal_(options.live, options.keys), dirty_(options.live) {}

    LineStatus Run() {
        if (!signals_.ok()) {
            return SystemFailure(LineError::kOther, "cannot watch for signals", errno);
        }
        for (;;) {
            if (dirty_ && Clock::now() >= next_frame_ && !Draw()) {
                return SystemFailure(LineError::kOther, "cannot write standard output", errno);
            }
            pollfd ready[3] = {{source_.fd.get(), POLLIN, 0},
                               {signals_.fd(), POLLIN, 0},
                               {terminal_.KeyFd(), POLLIN, 0}};
            const int count = poll(ready, 3, Wait());
            if (count < 0 && errno != EINTR) {
                return SystemFailure(LineError::kOther, "cannot wait for input", errno);
            }
            if (count > 0 && ready[1].revents != 0) {
                const SignalsTaken taken = signals_.Take();
                if (taken.end) {
                    // What the writer sent before the end is still shown.
                    return ReadWhileReady();
                }
                if (taken.stop) {
                    terminal_.Leave();
                    signals_.StopHere();
                    terminal_.Enter();
                }
                clear_ |= taken.redraw || taken.stop;
            }
            if (count > 0 && ready[2].revents != 0 && QuitTyped()) {
                return ReadWhileReady();
            }
            dirty_ |= clear_ && options_.live;
            if (count > 0 && ready[0].revents != 0) {
                if (const std::optional<LineStatus> end = ReadOnce()) {
                    return *end;
                }
            } else if (count == 0 && IdleOver()) {
                return {};
            }
        }
    }

    // The end: the half-sent command reported, the last frame drawn.
    void Finish() {
        FinishModule(module_);
        if (options_.live) {
            Draw();
        }
        if (options_.lines) {
            WriteOut(ReportLines(module_, listed_, true));
        }
    }

  private:
    bool Draw() {
        dirty_ = false;
        next_frame_ = Clock::now() + kFramePause;
        const bool clear = std::exchange(clear_, false);
        const auto [columns, rows] = TerminalSize();
        return terminal_.Draw(FrameLines({module_, arrivals_, source_.name, line_, options_.dots,
                                          columns, rows, options_.colour}),
                              clear);
    }

    // Reads the keys typed: whether q (or Q) was among them.
    bool QuitTyped() {
        char keys[64];
        const ssize_t got = read(terminal_.KeyFd(), keys, sizeof keys);
        if (got <= 0) {
            if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                terminal_.StopReadingKeys();
            }
            return false;
        }
        return std::find_if(keys, keys + got, [](char c) { return c == 'q' || c == 'Q'; }) !=
               keys + got;
    }

    bool IdleOver() const {
        return options_.idle_exit > 0 && arrivals_.total != 0 &&
               Clock::now() >= last_byte_ + IdleTime();
    }

    Clock::duration IdleTime() const {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(options_.idle_exit));
    }

    // No time-out while nothing is due: the loop sleeps in poll.
    int Wait() const {
        int wait = dirty_ ? MillisecondsUntil(next_frame_) : -1;
        if (options_.idle_exit > 0 && arrivals_.total != 0) {
            const int until_idle = MillisecondsUntil(last_byte_ + IdleTime());
            wait = wait < 0 ? until_idle : std::min(wait, until_idle);
        }
        return wait;
    }

    // One read; the status to end with when the input ended or failed.
    std::optional<LineStatus> ReadOnce() {
        const ssize_t got = read(source_.fd.get(), buffer_.data(), buffer_.size());
        if (got == 0) {
            // The end of a file; a port ends so only when its device is gone.
            return source_.is_line ? LineStatus{LineError::kOther,
                                                source_.name + ": the line was hung up (was the "
                                                               "device unplugged?)"}
                                   : LineStatus{};
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                return std::nullopt;
            }
            return SystemFailure(LineError::kOther, source_.name + ": cannot read", errno);
        }
        const std::string_view bytes(buffer_.data(), static_cast<std::size_t>(got));
        FeedModule(module_, bytes);
        NoteArrival(arrivals_, bytes);
        last_byte_ = Clock::now();
        LineSettings settings;
        if (source_.is_line && ReadLineSettings(source_.fd, settings).ok()) {
            line_ = DescribeLineSettings(settings);
        }
        if (options_.lines) {
            std::string text = ArrivalLine(bytes) + ReportLines(module_, listed_, false);
            if (!WriteOut(text)) {
                return SystemFailure(LineError::kOther, "cannot write standard output", errno);
            }
        }
        dirty_ = options_.live;
        return std::nullopt;
    }

    // What a port had received before the signal; a file is not read to its
    // end (it may have none: /dev/zero), nor a writer that never stops.
    LineStatus ReadWhileReady() {
        for (int reads = 0; source_.is_line && reads < kReadsAfterTheEnd; ++reads) {
            pollfd ready{source_.fd.get(), POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0) {
                return {};
            }
            if (const std::optional<LineStatus> end = ReadOnce()) {
                return *end;
            }
        }
        return {};
    }

    DisplaySource& source_;
    Module& module_;
    const LoopOptions& options_;
    ReportsListed listed_; // in plain lines
    // Signals are caught before the terminal changes and until it is back.
    SignalPipe signals_;
    LiveTerminal terminal_;
    Arrivals arrivals_;
    std::string line_;
    bool dirty_;
    bool clear_ = false;
    Clock::time_point next_frame_ = Clock::now();
    Clock::time_point last_byte_{};
    std::vector<char> buffer_ = std::vector<char>(1 << 16);
};

} // namespace

bool NoColourWanted() {
    const char* value = std::getenv("NO_COLOR");
    return value != nullptr && *value != '\0';
}

bool DumbTerminal() {
    const char* term = std::getenv("TERM");
    return term != nullptr && std::string_view(term) == "dumb";
}

LineStatus RunDisplayLoop(DisplaySource& source, Module& module, const LoopOptions& options) {
    Session session(source, module, options);
    const LineStatus status = session.Run();
    session.Finish();
    return status;
}
