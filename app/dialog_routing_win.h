// The main window's dialog procedure and the handlers attached to the window
// and its controls.
#pragma once

#include "app/event_handler_win.h"

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void AttachHandler(HWND window, EventHandler handler);
