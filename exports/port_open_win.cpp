#include "exports/port_open.h"

#include "exports/port_table.h"
#include "serial/line_rates.h"
#include "serial/win/device_io.h"
#include "serial/win/line_settings.h"
#include "serial/win/spin_lock.h"

namespace {

// "COM7"; from 10 on the name needs the device namespace prefix: "\\.\COM12".
struct DeviceName {
    wchar_t text[16];
};

DeviceName MakeDeviceName(std::int32_t port) noexcept {
    DeviceName name{};
    wchar_t* out = name.text;
    if (port >= 10) {
        for (wchar_t c : {L'\\', L'\\', L'.', L'\\'}) {
            *out++ = c;
        }
    }
    for (wchar_t c : {L'C', L'O', L'M'}) {
        *out++ = c;
    }
    if (port >= 10) {
        *out++ = static_cast<wchar_t>(L'0' + port / 10);
    }
    *out = static_cast<wchar_t>(L'0' + port % 10);
    return name;
}

// The checks and the open itself, under the open lock until the new table
// entry is complete. The entry's handle, or nullptr.
HANDLE OpenIntoTable(std::int32_t number, std::int32_t port, std::int32_t baud_rate) noexcept {
    SpinGuard open(OpenLock);
    if (port < 1 || port > 99) {
        return nullptr;
    }
    const DeviceName name = MakeDeviceName(port);
    if (!IsLineRate(baud_rate)) {
        return nullptr;
    }
    PortHandle device{OpenDevice(name.text)};
    if (!device || DeviceFileType(device.Get()) == FILE_TYPE_DISK) {
        return nullptr;
    }
    return AddPort(number, std::move(device));
}

} // namespace

// Deliberately closes nothing: a port already in the slot stays open, out of
// reach, until the process ends; callers close before they open again.
std::int32_t OpenPort(std::int32_t port, std::int32_t baud_rate) noexcept {
    const std::int32_t number = DrawPortNumber();
    PortSlot.store(number);
    if (number == 0) {
        return 0;
    }
    HANDLE device = OpenIntoTable(number, port, baud_rate);
    if (device == nullptr) {
        return 0;
    }
    ClearDeviceBreak(device);
    ApplyLineSettings(device, static_cast<DWORD>(baud_rate));
    return 1;
}

std::int32_t ClosePort() noexcept {
    TakePort(PortSlot.load()).Reset();
    return 1;
}
