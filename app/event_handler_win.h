// The event handlers of the main window. Each has the shape of a dialog
// procedure: it is given the main window (also when it is a control's
// handler), the message and its parameters, and returns non-zero when it has
// handled the message, which then ends the routing.
#pragma once

#include <windows.h>

#include <cstdint>

using EventHandler = DLGPROC;

INT_PTR CALLBACK WindowHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK MessageTextHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ClearAfterSendHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK SendCommand(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The rate of the checked baud-rate choice, 0 when none is checked.
std::int32_t SelectedBaudRate();
