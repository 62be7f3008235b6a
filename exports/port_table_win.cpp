#include "exports/port_table.h"

#include "serial/win/spin_lock.h"

constinit std::atomic<std::int32_t> PortSlot{0};

namespace {

// Indexed by port number; nullptr marks a free number (no device handle is
// ever null). Raw handles, so that nothing runs at process end: ports still
// open then, reachable or not, are released by the system with the process.
constinit HANDLE openPorts[kHighestPortNumber + 1]{};

// Guarded by the open lock.
constinit std::int32_t drawCounter = 0;

bool InRange(std::int32_t number) noexcept {
    return number >= 1 && number <= kHighestPortNumber;
}

} // namespace

std::int32_t DrawPortNumber() noexcept {
    SpinGuard open(OpenLock);
    for (std::int32_t tries = 0; tries < kHighestPortNumber; ++tries) {
        drawCounter = drawCounter == kHighestPortNumber ? 1 : drawCounter + 1;
        if (!PortNumberInUse(drawCounter)) {
            return drawCounter;
        }
    }
    return 0;
}

bool PortNumberInUse(std::int32_t number) noexcept {
    return FindPort(number) != nullptr;
}

HANDLE AddPort(std::int32_t number, PortHandle port) noexcept {
    if (!InRange(number) || !port) {
        return nullptr;
    }
    {
        SpinGuard table(TableLock);
        if (openPorts[number] == nullptr) {
            openPorts[number] = port.Release();
            return openPorts[number];
        }
    }
    return nullptr;
}

HANDLE FindPort(std::int32_t number) noexcept {
    if (!InRange(number)) {
        return nullptr;
    }
    SpinGuard table(TableLock);
    return openPorts[number];
}

PortHandle TakePort(std::int32_t number) noexcept {
    if (!InRange(number)) {
        return PortHandle{};
    }
    SpinGuard table(TableLock);
    HANDLE device = openPorts[number];
    openPorts[number] = nullptr;
    return device ? PortHandle{device} : PortHandle{};
}
