#pragma once

#include <windows.h>

// Builds the main window with all its controls and handlers, stores it in
// gMainWindow and shows it. No baud rate is selected yet.
void CreateMainWindow(HWND parent);
