// The signals wendle-display's loop takes: they reach it through a pipe
// that poll watches with the input, so that no step is cut short.
#pragma once

#include "serial/line_status.h"
#include "serial/posix/unique_fd.h"

#include <signal.h>

// What the signals that came ask for.
struct SignalsTaken {
    bool end = false;    // an ending signal
    bool redraw = false; // SIGWINCH, SIGCONT
    bool stop = false;   // SIGTSTP (Ctrl+Z)
};

class SignalPipe {
  public:
    SignalPipe() = default;
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;
    // Holds back the ending signals again, then puts back the actions found.
    ~SignalPipe();

    // Makes the pipe and catches the signals, then lets through the ending
    // signals that HoldEndingSignals held back: one that came meanwhile is
    // taken now.
    LineStatus Watch();

    int fd() const { return read_end_.get(); }
    LineStatus Take(SignalsTaken& taken);

    // Stops the program as Ctrl+Z does; returns when it is continued.
    LineStatus StopHere();

  private:
    static int Index(int number) { return number % 32; }
    UniqueFd read_end_;
    UniqueFd write_end_;
    bool watching_ = false;
    struct sigaction action_ {};
    struct sigaction saved_[32]{};
};
