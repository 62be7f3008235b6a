#include "tools/display/display_signals_posix.h"

#include "serial/posix/retry.h"
#include "serial/posix/serial_line.h"
#include "tools/display/display_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace {

// The write end of the pipe, for the handler.
int signal_pipe_write = -1;

extern "C" void NoteSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    // Its result deliberately unused: a full pipe has the signal noted already.
    [[maybe_unused]] const ssize_t ignored = write(signal_pipe_write, &byte, 1);
    errno = saved;
}

// Besides the ending signals: SIGWINCH and SIGCONT ask for a redraw; SIGTSTP
// (Ctrl+Z) stops the program once the terminal is as it was.
constexpr int kOtherSignals[] = {SIGWINCH, SIGCONT, SIGTSTP};

bool IsEnding(int number) {
    return std::find(std::begin(kEndingSignals), std::end(kEndingSignals), number) !=
           std::end(kEndingSignals);
}

LineStatus MaskEndingSignals(int how) {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int number : kEndingSignals) {
        sigaddset(&ending, number);
    }
    if (sigprocmask(how, &ending, nullptr) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot hold back the ending signals", error);
    }
    return {};
}

LineStatus CannotCatch(int error) {
    return SystemFailure(LineError::kOther, "cannot catch signals", error);
}

} // namespace

LineStatus HoldEndingSignals() {
    return MaskEndingSignals(SIG_BLOCK);
}

LineStatus SignalPipe::Watch() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot make a pipe for the signals", error);
    }
    read_end_ = UniqueFd(ends[0]);
    write_end_ = UniqueFd(ends[1]);
    signal_pipe_write = ends[1];
    action_.sa_handler = NoteSignal;
    sigemptyset(&action_.sa_mask);
    watching_ = true;
    for (const int number : kEndingSignals) {
        if (sigaction(number, &action_, &saved_[Index(number)]) != 0) {
            return CannotCatch(errno);
        }
    }
    for (const int number : kOtherSignals) {
        if (sigaction(number, &action_, &saved_[Index(number)]) != 0) {
            return CannotCatch(errno);
        }
    }
    // Started without job control (SIGTSTP ignored): Ctrl+Z stays ignored.
    if (saved_[Index(SIGTSTP)].sa_handler == SIG_IGN &&
        sigaction(SIGTSTP, &saved_[Index(SIGTSTP)], nullptr) != 0) {
        return CannotCatch(errno);
    }
    return MaskEndingSignals(SIG_UNBLOCK);
}

SignalPipe::~SignalPipe() {
    if (!watching_) {
        return;
    }
    // Their results deliberately unused: on the way out, nothing better can
    // be done than to go on.
    MaskEndingSignals(SIG_BLOCK);
    for (const int number : kEndingSignals) {
        sigaction(number, &saved_[Index(number)], nullptr);
    }
    for (const int number : kOtherSignals) {
        sigaction(number, &saved_[Index(number)], nullptr);
    }
    signal_pipe_write = -1;
}

LineStatus SignalPipe::Take(SignalsTaken& taken) {
    taken = SignalsTaken();
    char numbers[64];
    for (;;) {
        const auto got = Retry([&] { return read(read_end_.get(), numbers, sizeof numbers); });
        if (got.failed()) {
            return got.error == EAGAIN
                       ? LineStatus{}
                       : SystemFailure(LineError::kOther, "cannot read the signals", got.error);
        }
        if (got.value == 0) {
            return {};
        }
        for (ssize_t i = 0; i < got.value; ++i) {
            taken.redraw |= numbers[i] == SIGWINCH || numbers[i] == SIGCONT;
            taken.stop |= numbers[i] == SIGTSTP;
            taken.end |= IsEnding(numbers[i]);
        }
    }
}

LineStatus SignalPipe::StopHere() {
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    if (sigaction(SIGTSTP, &stop, nullptr) != 0 || raise(SIGTSTP) != 0 ||
        sigaction(SIGTSTP, &action_, nullptr) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot stop", error);
    }
    return {};
}
