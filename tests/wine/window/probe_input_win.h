// Real input for the probe: keyboard and mouse events through SendInput, so
// they take the same road as a user's, through the target's message loop.
#pragma once

#include <windows.h>

#include <string_view>

// Brings the window to the foreground; true when it got there.
bool MakeForeground(HWND window);

// Presses one named key ("tab", "enter", "escape", "up", "down", "alt+f4",
// "shift+tab") or types the characters after "text:".
bool PressKey(std::string_view key);

// Clicks the left button at a point of a window given as fractions of its
// width and height.
void ClickAt(HWND window, double fx, double fy);
