// The terminal in live mode, and as it was again on every way out: its
// screen and, when keys are read, its input without echo and line editing.
#pragma once

#include "serial/line_status.h"

#include <termios.h>

#include <string>
#include <utility>
#include <vector>

// The terminal's size, or 0 by 0 when it cannot tell (the frame then keeps
// to the screen's own size).
std::pair<unsigned, unsigned> TerminalSize();

class LiveTerminal {
  public:
    LiveTerminal(bool live, bool keys) : live_(live), keys_(live && keys) {}
    LiveTerminal(const LiveTerminal&) = delete;
    LiveTerminal& operator=(const LiveTerminal&) = delete;
    // On a way out where a failure is told already.
    ~LiveTerminal() { Close(); }

    LineStatus Enter();
    LineStatus Leave();
    // Leaves the live screen with the last frame on the terminal.
    LineStatus Close();

    // Where keys come from, or -1 (which poll passes over).
    int KeyFd() const;
    void StopReadingKeys() { reading_keys_ = false; }

    // Draws the frame when it differs from the one on the screen.
    LineStatus Draw(std::vector<std::string> frame, bool clear);

  private:
    bool live_;
    bool keys_;
    bool entered_ = false;
    bool keys_set_ = false;
    bool reading_keys_ = true;
    termios saved_{};
    std::vector<std::string> last_frame_;
};
