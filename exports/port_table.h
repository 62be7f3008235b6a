// The process's table of open ports, the number draw and the port slot.
#pragma once

#include "serial/win/port_handle.h"

#include <atomic>
#include <cstdint>

inline constexpr std::int32_t kHighestPortNumber = 32767;

// The number drawn by the most recent open, whether it succeeded or not.
// Only opening writes it; several threads may read and write it at once.
extern constinit std::atomic<std::int32_t> PortSlot;

// Draws the next number that no open port has, from a counter that runs
// 1, 2, ... 32767, 1, ... Takes the open lock. 0 when every number is taken.
std::int32_t DrawPortNumber() noexcept;

bool PortNumberInUse(std::int32_t number) noexcept;
// Enters `port` under `number` and returns its handle, which stays owned by
// the table. A number out of range or in use refuses it: the port is closed
// and the result is nullptr.
HANDLE AddPort(std::int32_t number, PortHandle port) noexcept;
// The handle of the port numbered `number`, or nullptr.
HANDLE FindPort(std::int32_t number) noexcept;
// Removes the port numbered `number` from the table and hands it over.
PortHandle TakePort(std::int32_t number) noexcept;

inline HANDLE FindPortInSlot() noexcept {
    return FindPort(PortSlot.load());
}
