#include "serial/win/device_io.h"

#include "serial/win/device_calls.h"
#include "serial/win/spin_lock.h"

namespace {

// The one way of calling the device: `call` gets the table in use and
// returns what the function reported. Deliberately judged by the last-error
// code: a call that leaves one failed even when it reported success, as every
// device call of Wendle always has been; one that reports failure without a
// code failed too (a state read that never happened would otherwise be
// written back).
template <typename Call> bool CallDevice(Call&& call) noexcept {
    SpinGuard guard(DeviceCallLock);
    const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetLastError(0);
    const bool reported = call(Device());
    const DWORD error = GetLastError();
    SetErrorMode(previous_mode);
    return reported && error == 0;
}

} // namespace

HANDLE OpenDevice(const wchar_t* name) noexcept {
    // nLength must be the record's size for the build's pointer width.
    static_assert(sizeof(SECURITY_ATTRIBUTES) == (sizeof(void*) == 8 ? 24 : 12),
                  "the system's SECURITY_ATTRIBUTES layout");
    // Inheritable, as the handle has always been; callers may rely on it.
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE device = INVALID_HANDLE_VALUE;
    CallDevice([&](const DeviceCalls& calls) {
        device = calls.createFile(name, GENERIC_READ | GENERIC_WRITE, 0, &security, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        return true;
    });
    return device;
}

DWORD DeviceFileType(HANDLE device) noexcept {
    DWORD type = FILE_TYPE_UNKNOWN;
    CallDevice([&](const DeviceCalls& calls) {
        type = calls.getFileType(device);
        return true;
    });
    return type;
}

bool ReadLineState(HANDLE device, DCB& state) noexcept {
    state = DCB{};
    state.DCBlength = sizeof(DCB);
    return CallDevice(
        [&](const DeviceCalls& calls) { return calls.getCommState(device, &state) != FALSE; });
}

void WriteLineState(HANDLE device, DCB& state) noexcept {
    CallDevice(
        [&](const DeviceCalls& calls) { return calls.setCommState(device, &state) != FALSE; });
}

bool ReadDeviceProperties(HANDLE device, COMMPROP& properties) noexcept {
    properties = COMMPROP{};
    return CallDevice([&](const DeviceCalls& calls) {
        return calls.getCommProperties(device, &properties) != FALSE;
    });
}

void SetDeviceQueues(HANDLE device, DWORD input_size, DWORD output_size) noexcept {
    CallDevice([&](const DeviceCalls& calls) {
        return calls.setupComm(device, input_size, output_size) != FALSE;
    });
}

void WriteDevice(HANDLE device, const char* bytes, DWORD count) noexcept {
    DWORD written = 0;
    CallDevice([&](const DeviceCalls& calls) {
        return calls.writeFile(device, bytes, count, &written, nullptr) != FALSE;
    });
}

void CloseDevice(HANDLE device) noexcept {
    CallDevice([&](const DeviceCalls& calls) { return calls.closeHandle(device) != FALSE; });
}

void ClearDeviceBreak(HANDLE device) noexcept {
    Device().escapeCommFunction(device, CLRBREAK);
}
