// Opening a serial device into the port slot, and closing the port in it.
#pragma once

#include <cstdint>

// 1 when COM<port> is open at `baud_rate` and in the slot, 0 when the call was
// refused or the device did not open. Every call moves the slot to a freshly
// drawn number; a port already in the slot stays open and out of reach.
std::int32_t OpenPort(std::int32_t port, std::int32_t baud_rate) noexcept;

// Closes the port in the slot, if there is one. Always 1.
std::int32_t ClosePort() noexcept;
