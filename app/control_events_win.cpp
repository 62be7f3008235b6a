// The handlers that act on nothing: typing, ticking the check box, painting,
// sizing and closing all take the controls' and the dialog's own behaviour.
#include "app/event_handler_win.h"

INT_PTR CALLBACK WindowHandler(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

INT_PTR CALLBACK MessageTextHandler(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

INT_PTR CALLBACK ClearAfterSendHandler(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}
