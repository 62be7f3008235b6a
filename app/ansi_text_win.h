// Texts cross the window interface as UTF-16 and are converted with the
// system's ANSI code page in both directions.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

std::wstring WidenAnsi(std::string_view text);
std::string NarrowAnsi(std::wstring_view text);
std::wstring WindowText(HWND window);
