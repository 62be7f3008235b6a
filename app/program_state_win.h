// Program-wide state of the one window thread.
#pragma once

#include <windows.h>

// Set as soon as the main window exists; handlers reach the controls
// through it.
inline HWND gMainWindow = nullptr;

// Dialog windows of the program that exist: the message loop runs while it
// is not 0.
inline int gOpenWindowCount = 0;

// The program's dialog window that is active, whose dialog keyboard handling
// gets every message the loop takes; null while another application is active.
inline HWND gActiveWindow = nullptr;
