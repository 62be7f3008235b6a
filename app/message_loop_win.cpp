#include "app/message_loop_win.h"

#include "app/program_state_win.h"

#include <windows.h>

namespace {

// The active window's dialog keyboard handling (Tab, arrows, Enter as Send)
// sees the message first; while another application is active it gets none.
void HandleMessage(MSG& message) {
    HWND active = gActiveWindow;
    if (active != nullptr && IsWindow(active) && IsDialogMessageW(active, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

} // namespace

// WM_QUIT is not looked for: only the open-window count ends the loop.
void RunMessageLoop() {
    for (;;) {
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            HandleMessage(message);
        } else {
            Sleep(1);
        }
        const int open_windows = gOpenWindowCount;
        // Deliberately a second sleep on every turn, also after a message: at
        // most one message a millisecond, so the window never takes a core.
        Sleep(1);
        if (open_windows == 0) {
            return;
        }
    }
}
