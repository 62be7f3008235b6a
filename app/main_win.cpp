// The program: start-up, the message loop, and exit code 0 once the main
// window has been closed.
#include "app/controls_win.h"
#include "app/main_window_win.h"
#include "app/message_loop_win.h"
#include "app/program_state_win.h"

#include <windows.h>

#include <commctrl.h>

namespace {

constexpr char kNoSupportText[] = "Win98 No Support";
constexpr UINT kNonNtExitCode = 255;

void RefuseNonNtWindows() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        MessageBoxA(nullptr, kNoSupportText, nullptr, MB_TASKMODAL | MB_SETFOREGROUND);
        ExitProcess(kNonNtExitCode);
    }
}

} // namespace

// The command line and the show command are not used: every run starts alike.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RefuseNonNtWindows();

    static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);

    CreateMainWindow(nullptr);
    // Before the loop handles anything, so the first painting shows it.
    SendMessageW(GetDlgItem(gMainWindow, FORM1_BAUD9600), BM_SETCHECK, BST_CHECKED, 0);

    RunMessageLoop();
    return 0;
}
