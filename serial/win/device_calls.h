// The device calls of the serial subsystem, as one table of function
// pointers: the Win32 functions by default, a test's fakes when installed.
#pragma once

#include <windows.h>

struct DeviceCalls {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    DWORD(WINAPI* getFileType)(HANDLE);
    BOOL(WINAPI* escapeCommFunction)(HANDLE, DWORD);
    BOOL(WINAPI* getCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* getCommProperties)(HANDLE, LPCOMMPROP);
    BOOL(WINAPI* setupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* closeHandle)(HANDLE);
};

extern constinit const DeviceCalls kWin32DeviceCalls;

// The table in use.
const DeviceCalls& Device() noexcept;

// Puts `calls` in use (nullptr: the Win32 functions) and returns the table
// that was in use. For tests only.
const DeviceCalls* InstallDeviceCalls(const DeviceCalls* calls) noexcept;
