#include "fake_device.h"

#include "serial/device_calls.h"
#include "serial/port_table.h"
#include "serial/spin_lock.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <type_traits>

namespace {

FakeDevice* active = nullptr;

// Taken first thing in every fake, before anything can change the last error.
DeviceCall Begin(CallKind kind, HANDLE handle) {
    DeviceCall call{};
    call.kind = kind;
    call.handle = handle;
    call.lastError = GetLastError();
    call.errorMode = SetErrorMode(0);
    SetErrorMode(call.errorMode);
    call.deviceCallLockHeld = DeviceCallLock.test();
    call.tableLockHeld = TableLock.test();
    SetLastError(call.lastError);
    return call;
}

const Fault* Enter(const DeviceCall& call) {
    return FakeDevice::Active().Enter(call);
}

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE template_file) {
    DeviceCall call = Begin(CallKind::CreateFile, nullptr);
    call.name = name;
    call.access = access;
    call.share = share;
    call.hasSecurity = security != nullptr;
    if (security) {
        call.security = *security;
    }
    call.disposition = disposition;
    call.flags = flags;
    call.templateFile = template_file;
    // A fault with a non-zero result: a handle that comes with a last error.
    if (const Fault* fault = Enter(call); fault && !fault->result) {
        return INVALID_HANDLE_VALUE;
    }
    return FakeDevice::Active().NextHandle();
}

DWORD WINAPI FakeGetFileType(HANDLE handle) {
    if (const Fault* fault = Enter(Begin(CallKind::GetFileType, handle))) {
        return static_cast<DWORD>(fault->result);
    }
    return FakeDevice::Active().driver.fileType;
}

BOOL WINAPI FakeEscapeComm(HANDLE handle, DWORD function) {
    DeviceCall call = Begin(CallKind::EscapeComm, handle);
    call.function = function;
    const Fault* fault = Enter(call);
    return fault ? fault->result : TRUE;
}

BOOL WINAPI FakeGetCommState(HANDLE handle, LPDCB state) {
    if (const Fault* fault = Enter(Begin(CallKind::GetCommState, handle))) {
        return fault->result;
    }
    *state = FakeDevice::Active().driver.state;
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB state) {
    DeviceCall call = Begin(CallKind::SetCommState, handle);
    call.state = *state;
    if (const Fault* fault = Enter(call)) {
        return fault->result;
    }
    FakeDriver& driver = FakeDevice::Active().driver;
    if (driver.keepsState) {
        driver.state = *state;
    }
    return TRUE;
}

BOOL WINAPI FakeGetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    if (const Fault* fault = Enter(Begin(CallKind::GetCommProperties, handle))) {
        return fault->result;
    }
    const FakeDriver& driver = FakeDevice::Active().driver;
    *properties = COMMPROP{};
    properties->wPacketLength = sizeof(COMMPROP);
    properties->dwCurrentRxQueue = driver.inputQueue;
    properties->dwCurrentTxQueue = driver.outputQueue;
    return TRUE;
}

BOOL WINAPI FakeSetupComm(HANDLE handle, DWORD input_size, DWORD output_size) {
    DeviceCall call = Begin(CallKind::SetupComm, handle);
    call.inputSize = input_size;
    call.outputSize = output_size;
    if (const Fault* fault = Enter(call)) {
        return fault->result;
    }
    FakeDriver& driver = FakeDevice::Active().driver;
    if (driver.keepsState) {
        driver.inputQueue = input_size;
        driver.outputQueue = output_size;
    }
    return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    DeviceCall call = Begin(CallKind::WriteFile, handle);
    call.bytes.assign(static_cast<const char*>(bytes), count);
    call.hasWrittenCount = written != nullptr;
    call.hasOverlapped = overlapped != nullptr;
    const Fault* fault = Enter(call);
    if (written) {
        *written = fault ? 0 : std::min(count, FakeDevice::Active().driver.writeLimit);
    }
    return fault ? fault->result : TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    const Fault* fault = Enter(Begin(CallKind::CloseHandle, handle));
    return fault ? fault->result : TRUE;
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
            if (!changes.empty()) {
                changes.push_back(' ');
            }
            changes.append(member.name).push_back('=');
            changes.append(std::to_string(member.value(after)));
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
        HANDLE handle = FindPort(number);
        if (handle && std::find(opened.begin(), opened.end(), handle) != opened.end()) {
            TakePort(number).Reset();
        }
    }
    InstallDeviceCalls(previous_);
    active = nullptr;
}

FakeDevice& FakeDevice::Active() {
    return *active;
}

std::vector<DeviceCall> FakeDevice::CallsOf(CallKind kind) const {
    std::vector<DeviceCall> of_kind = calls;
    std::erase_if(of_kind, [kind](const DeviceCall& call) { return call.kind != kind; });
    return of_kind;
}

std::vector<std::string> FakeDevice::CallNames() const {
    constexpr const char* kNames[] = {"CreateFileW",  "GetFileType",  "EscapeCommFunction",
                                      "GetCommState", "SetCommState", "GetCommProperties",
                                      "SetupComm",    "WriteFile",    "CloseHandle"};
    std::vector<std::string> names;
    for (const DeviceCall& call : calls) {
        names.push_back(kNames[static_cast<int>(call.kind)]);
    }
    return names;
}

// When a fault is planned for the call, leaves its error and gives it.
const Fault* FakeDevice::Enter(const DeviceCall& call) {
    calls.push_back(call);
    const int occurrence = ++counts_[static_cast<int>(call.kind)];
    for (const Fault& fault : driver.faults) {
        if (fault.kind == call.kind && fault.occurrence == occurrence) {
            SetLastError(fault.error);
            return &fault;
        }
    }
    return nullptr;
}

HANDLE FakeDevice::NextHandle() {
    // Far from any handle the process really has.
    opened.push_back(reinterpret_cast<HANDLE>(0x7000'0000u + 4u * (opened.size() + 1)));
    return opened.back();
}

BSTR Bytes(const std::optional<std::string>& text) {
    return text ? SysAllocStringByteLen(text->data(), static_cast<UINT>(text->size())) : nullptr;
}

std::string Text(BSTR text) {
    return std::string(reinterpret_cast<const char*>(text), SysStringByteLen(text));
}
