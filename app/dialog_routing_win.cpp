#include "app/dialog_routing_win.h"

#include "app/controls_win.h"
#include "app/program_state_win.h"

namespace {

constexpr wchar_t kHandlerProperty[] = L"Wendle.EventHandler";

EventHandler AttachedHandler(HWND window) {
    return reinterpret_cast<EventHandler>(GetPropW(window, kHandlerProperty));
}

// Window properties must be gone before the window is; the controls still
// exist while their parent handles WM_DESTROY.
void DetachControlHandlers(HWND window) {
    for (const ControlEntry& entry : kControls) {
        if (entry.handler != nullptr) {
            RemovePropW(GetDlgItem(window, entry.id), kHandlerProperty);
        }
    }
}

// The control whose handler is offered a notification before the window's.
HWND NotifyingControl(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_COMMAND:
        return GetDlgItem(window, LOWORD(wparam)) != nullptr ? reinterpret_cast<HWND>(lparam)
                                                             : nullptr;
    case WM_NOTIFY:
        return lparam != 0 ? reinterpret_cast<const NMHDR*>(lparam)->hwndFrom : nullptr;
    case WM_HSCROLL:
    case WM_VSCROLL:
        return reinterpret_cast<HWND>(lparam);
    default:
        return nullptr;
    }
}

INT_PTR RouteToHandlers(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (HWND control = NotifyingControl(window, message, wparam, lparam)) {
        if (EventHandler handler = AttachedHandler(control)) {
            if (INT_PTR result = handler(window, message, wparam, lparam)) {
                return result;
            }
        }
    }
    if (EventHandler handler = AttachedHandler(window)) {
        return handler(window, message, wparam, lparam);
    }
    return 0;
}

// The dialog manager would turn the close command into WM_CLOSE and that into
// IDCANCEL, which destroys nothing: the window ends itself instead.
INT_PTR CloseOnCloseCommand(HWND window, UINT message, WPARAM wparam) {
    if (message != WM_SYSCOMMAND || (wparam & 0xFFF0) != SC_CLOSE) {
        return FALSE;
    }
    SendMessageW(window, WM_CLOSE, 0, 0);
    DestroyWindow(window);
    return TRUE;
}

} // namespace

void AttachHandler(HWND window, EventHandler handler) {
    SetPropW(window, kHandlerProperty, reinterpret_cast<HANDLE>(handler));
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        ++gOpenWindowCount;
        return TRUE;
    case WM_ACTIVATE:
        gActiveWindow = LOWORD(wparam) == WA_INACTIVE ? nullptr : window;
        return FALSE;
    case WM_DESTROY: {
        --gOpenWindowCount;
        const INT_PTR result = RouteToHandlers(window, message, wparam, lparam);
        DetachControlHandlers(window);
        return result;
    }
    case WM_NCDESTROY: {
        const INT_PTR result = RouteToHandlers(window, message, wparam, lparam);
        RemovePropW(window, kHandlerProperty);
        return result;
    }
    default:
        if (INT_PTR result = RouteToHandlers(window, message, wparam, lparam)) {
            return result;
        }
        return CloseOnCloseCommand(window, message, wparam);
    }
}
