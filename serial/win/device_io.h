// The calls on a serial device, each made the one safe way: under the
// device-call lock, with the system's error boxes switched off, and judged by
// the thread's last-error code. EscapeCommFunction is the one exception.
#pragma once

#include <windows.h>

// INVALID_HANDLE_VALUE when the device did not open.
HANDLE OpenDevice(const wchar_t* name) noexcept;
DWORD DeviceFileType(HANDLE device) noexcept;
bool ReadLineState(HANDLE device, DCB& state) noexcept;
void WriteLineState(HANDLE device, DCB& state) noexcept;
bool ReadDeviceProperties(HANDLE device, COMMPROP& properties) noexcept;
void SetDeviceQueues(HANDLE device, DWORD input_size, DWORD output_size) noexcept;
// One write of the whole buffer; what it achieved is not looked at.
void WriteDevice(HANDLE device, const char* bytes, DWORD count) noexcept;
void CloseDevice(HANDLE device) noexcept;
// Ends a break condition on the transmit line, outside the lock and
// without the error-mode guard; its result does not matter.
void ClearDeviceBreak(HANDLE device) noexcept;
