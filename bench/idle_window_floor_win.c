/* idle_window_floor [seconds]
 *
 * The floor for the idle window: a top-level window with an edit box and a
 * button, served by a plain GetMessage loop, which sleeps until a message
 * comes. It closes itself after `seconds` (30 by default) through one timer,
 * so that a measurement needs no window tools to end it. */
#include <windows.h>

#include <stdlib.h>

static LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)previous;
    const int seconds = command_line[0] ? atoi(command_line) : 30;
    WNDCLASSW window_class = {0};
    window_class.lpfnWndProc = FloorProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    window_class.lpszClassName = L"IdleWindowFloor";
    if (seconds < 1 || !RegisterClassW(&window_class)) {
        return 2;
    }
    HWND window =
        CreateWindowExW(0, L"IdleWindowFloor", L"Idle window floor", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, NULL, NULL, instance, NULL);
    if (!window ||
        !CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 10,
                         10, 360, 180, window, NULL, instance, NULL) ||
        !CreateWindowExW(0, L"BUTTON", L"Send", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 200,
                         80, 28, window, NULL, instance, NULL) ||
        !SetTimer(window, 1, (UINT)seconds * 1000, NULL)) {
        return 1;
    }
    ShowWindow(window, show);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
