// The fixed line configuration applied on opening: 8 data bits, no parity,
// one stop bit, no flow control of any kind, DTR and RTS off, 1024-byte
// queues. Every other member of the line state keeps the driver's value.
#pragma once

#include <windows.h>

inline constexpr DWORD kQueueSize = 1024;

// Applies the seventeen settings in their order, each by itself: one the
// driver rejects, or whose state cannot be read, is lost on its own.
void ApplyLineSettings(HANDLE device, DWORD baud_rate) noexcept;
