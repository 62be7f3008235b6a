#include "fake_device.h"

#include "serial/device_calls.h"
#include "serial/port_table.h"
#include "serial/spin_lock.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace {

FakeDevice* active = nullptr;

std::string Printed(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Records the call with what surrounds it (taken before anything can change
// the last error) and gives the fault planned for it, with its error set.
const Fault* Enter(HANDLE handle, std::string text) {
    const DWORD last_error = GetLastError();
    const UINT error_mode = SetErrorMode(0);
    SetErrorMode(error_mode);
    const std::string name = text.substr(0, text.find(' '));
    if (!DeviceCallLock.test() || TableLock.test() || last_error != 0 ||
        error_mode != (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {
        text += " (unguarded)";
    }
    active->calls.push_back(std::move(text));
    active->handles.push_back(handle);
    const int occurrence = ++active->counts[name];
    for (const Fault& fault : active->driver.faults) {
        if (fault.call == name && fault.occurrence == occurrence) {
            SetLastError(fault.error);
            return &fault;
        }
    }
    SetLastError(last_error);
    return nullptr;
}

// What a call returns: the fault's result, or success.
BOOL Result(const Fault* fault) {
    return fault ? fault->result : TRUE;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE template_file) {
    std::string text = "CreateFileW ";
    for (; *name; ++name) {
        text.push_back(static_cast<char>(*name));
    }
    text += Printed(" %lx %lu %lu/%d/%d %lu %lx %d", access, share, security->nLength,
                    security->lpSecurityDescriptor != nullptr, security->bInheritHandle,
                    disposition, flags, template_file != nullptr);
    if (!Result(Enter(nullptr, text))) {
        return INVALID_HANDLE_VALUE;
    }
    // Far from any handle the process really has.
    active->opened.push_back(reinterpret_cast<HANDLE>(0x7000'0000u + 4 * active->opened.size()));
    return active->opened.back();
}

DWORD WINAPI FakeGetFileType(HANDLE handle) {
    Enter(handle, "GetFileType");
    return active->driver.fileType;
}

BOOL WINAPI FakeEscapeComm(HANDLE handle, DWORD function) {
    return Result(Enter(handle, Printed("EscapeCommFunction %lu", function)));
}

BOOL WINAPI FakeGetCommState(HANDLE handle, LPDCB state) {
    const Fault* fault = Enter(handle, "GetCommState");
    if (!fault) {
        *state = active->driver.state;
    }
    return Result(fault);
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB state) {
    FakeDriver& driver = active->driver;
    const Fault* fault = Enter(handle, "SetCommState " + LineStateChanges(driver.state, *state));
    if (!fault && driver.keepsState) {
        driver.state = *state;
    }
    return Result(fault);
}

BOOL WINAPI FakeGetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    const Fault* fault = Enter(handle, "GetCommProperties");
    if (!fault) {
        properties->dwCurrentRxQueue = active->driver.inputQueue;
        properties->dwCurrentTxQueue = active->driver.outputQueue;
    }
    return Result(fault);
}

BOOL WINAPI FakeSetupComm(HANDLE handle, DWORD input_size, DWORD output_size) {
    const Fault* fault = Enter(handle, Printed("SetupComm %lu %lu", input_size, output_size));
    if (!fault && active->driver.keepsState) {
        active->driver.inputQueue = input_size;
        active->driver.outputQueue = output_size;
    }
    return Result(fault);
}

// "WriteFile <bytes>", with " overlapped" or " uncounted" when the caller
// passes an OVERLAPPED or no count.
BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    std::string text = "WriteFile " + std::string(static_cast<const char*>(bytes), count);
    text += std::string(overlapped ? " overlapped" : "") + (written ? "" : " uncounted");
    const Fault* fault = Enter(handle, text);
    if (written) {
        *written = fault ? 0 : count;
    }
    return Result(fault);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    return Result(Enter(handle, "CloseHandle"));
}

constexpr DeviceCalls kFakeDeviceCalls{
    &FakeCreateFile,        &FakeGetFileType, &FakeEscapeComm, &FakeGetCommState, &FakeSetCommState,
    &FakeGetCommProperties, &FakeSetupComm,   &FakeWriteFile,  &FakeCloseHandle,
};

struct Member {
    const char* name;
    unsigned (*value)(const DCB&);
};

// Every member of the line state but its length, in the order of the DCB.
// clang-format off
#define WENDLE_MEMBER(m) \
    {#m, [](const DCB& s) -> unsigned { return std::make_unsigned_t<decltype(DCB::m)>(s.m); }}
constexpr Member kMembers[] = {
    WENDLE_MEMBER(BaudRate), WENDLE_MEMBER(fBinary), WENDLE_MEMBER(fParity),
    WENDLE_MEMBER(fOutxCtsFlow), WENDLE_MEMBER(fOutxDsrFlow), WENDLE_MEMBER(fDtrControl),
    WENDLE_MEMBER(fDsrSensitivity), WENDLE_MEMBER(fTXContinueOnXoff), WENDLE_MEMBER(fOutX),
    WENDLE_MEMBER(fInX), WENDLE_MEMBER(fErrorChar), WENDLE_MEMBER(fNull), WENDLE_MEMBER(fRtsControl),
    WENDLE_MEMBER(fAbortOnError), WENDLE_MEMBER(XonLim), WENDLE_MEMBER(XoffLim),
    WENDLE_MEMBER(ByteSize), WENDLE_MEMBER(Parity), WENDLE_MEMBER(StopBits), WENDLE_MEMBER(XonChar),
    WENDLE_MEMBER(XoffChar), WENDLE_MEMBER(ErrorChar), WENDLE_MEMBER(EofChar), WENDLE_MEMBER(EvtChar),
};
// clang-format on
#undef WENDLE_MEMBER

} // namespace

// clang-format off
DCB ForeignLineState() {
    return DCB{.DCBlength = sizeof(DCB), .BaudRate = 115200, .fBinary = TRUE, .fParity = TRUE,
               .fOutxCtsFlow = TRUE, .fOutxDsrFlow = TRUE, .fDtrControl = DTR_CONTROL_HANDSHAKE,
               .fDsrSensitivity = TRUE, .fTXContinueOnXoff = TRUE, .fOutX = TRUE, .fInX = TRUE,
               .fErrorChar = TRUE, .fNull = TRUE, .fRtsControl = RTS_CONTROL_HANDSHAKE,
               .fAbortOnError = TRUE, .fDummy2 = 0, .wReserved = 0, .XonLim = 11, .XoffLim = 22,
               .ByteSize = 7, .Parity = EVENPARITY, .StopBits = TWOSTOPBITS, .XonChar = 0x11,
               .XoffChar = 0x13, .ErrorChar = '?', .EofChar = 0x1A, .EvtChar = '\n', .wReserved1 = 0};
}
// clang-format on

std::string LineStateChanges(const DCB& before, const DCB& after) {
    std::string changes;
    for (const Member& member : kMembers) {
        if (member.value(before) != member.value(after)) {
            changes +=
                Printed("%s%s=%u", changes.empty() ? "" : " ", member.name, member.value(after));
        }
    }
    return changes;
}

FakeDevice::FakeDevice(FakeDriver driver) : driver(std::move(driver)) {
    active = this;
    previous_ = InstallDeviceCalls(&kFakeDeviceCalls);
}

FakeDevice::~FakeDevice() {
    for (std::int32_t number = 1; number <= kHighestPortNumber; ++number) {
        if (std::ranges::find(opened, FindPort(number)) != opened.end()) {
            TakePort(number).Reset();
        }
    }
    InstallDeviceCalls(previous_);
    active = nullptr;
}
