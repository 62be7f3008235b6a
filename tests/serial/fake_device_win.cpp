#include "fake_device.h"

#include "serial/device_calls.h"
#include "serial/port_table.h"
#include "serial/spin_lock.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

FakeDevice* active = nullptr;

// Taken first thing in every fake, before anything can change the last error.
DeviceCall Begin(CallKind kind, HANDLE handle) {
    DeviceCall call{};
    call.kind = kind;
    call.handle = handle;
    call.context.lastError = GetLastError();
    call.context.errorMode = SetErrorMode(0);
    SetErrorMode(call.context.errorMode);
    call.context.deviceCallLockHeld = DeviceCallLock.test();
    call.context.tableLockHeld = TableLock.test();
    SetLastError(call.context.lastError);
    return call;
}

// Records the call; when a fault is planned for it, leaves its error and
// gives its result.
const Fault* Enter(const DeviceCall& call) {
    FakeDevice& fake = FakeDevice::Active();
    fake.Record(call);
    const Fault* fault = fake.PlannedFault(call.kind);
    if (fault) {
        SetLastError(fault->error);
    }
    return fault;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
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
    call.templateFile = templateFile;
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
    return FakeDevice::Active().Driver().fileType;
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
    *state = FakeDevice::Active().Driver().state;
    return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB state) {
    DeviceCall call = Begin(CallKind::SetCommState, handle);
    call.state = *state;
    if (const Fault* fault = Enter(call)) {
        return fault->result;
    }
    FakeDriver& driver = FakeDevice::Active().Driver();
    if (driver.keepsState) {
        driver.state = *state;
    }
    return TRUE;
}

BOOL WINAPI FakeGetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    if (const Fault* fault = Enter(Begin(CallKind::GetCommProperties, handle))) {
        return fault->result;
    }
    const FakeDriver& driver = FakeDevice::Active().Driver();
    *properties = COMMPROP{};
    properties->wPacketLength = sizeof(COMMPROP);
    properties->dwCurrentRxQueue = driver.inputQueue;
    properties->dwCurrentTxQueue = driver.outputQueue;
    return TRUE;
}

BOOL WINAPI FakeSetupComm(HANDLE handle, DWORD inputSize, DWORD outputSize) {
    DeviceCall call = Begin(CallKind::SetupComm, handle);
    call.inputSize = inputSize;
    call.outputSize = outputSize;
    if (const Fault* fault = Enter(call)) {
        return fault->result;
    }
    FakeDriver& driver = FakeDevice::Active().Driver();
    if (driver.keepsState) {
        driver.inputQueue = inputSize;
        driver.outputQueue = outputSize;
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
        *written = fault ? 0 : std::min(count, FakeDevice::Active().Driver().writeLimit);
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

constexpr Member kMembers[] = {
    {"BaudRate", [](const DCB& s) -> unsigned { return s.BaudRate; }},
    {"fBinary", [](const DCB& s) -> unsigned { return s.fBinary; }},
    {"fParity", [](const DCB& s) -> unsigned { return s.fParity; }},
    {"fOutxCtsFlow", [](const DCB& s) -> unsigned { return s.fOutxCtsFlow; }},
    {"fOutxDsrFlow", [](const DCB& s) -> unsigned { return s.fOutxDsrFlow; }},
    {"fDtrControl", [](const DCB& s) -> unsigned { return s.fDtrControl; }},
    {"fDsrSensitivity", [](const DCB& s) -> unsigned { return s.fDsrSensitivity; }},
    {"fTXContinueOnXoff", [](const DCB& s) -> unsigned { return s.fTXContinueOnXoff; }},
    {"fOutX", [](const DCB& s) -> unsigned { return s.fOutX; }},
    {"fInX", [](const DCB& s) -> unsigned { return s.fInX; }},
    {"fErrorChar", [](const DCB& s) -> unsigned { return s.fErrorChar; }},
    {"fNull", [](const DCB& s) -> unsigned { return s.fNull; }},
    {"fRtsControl", [](const DCB& s) -> unsigned { return s.fRtsControl; }},
    {"fAbortOnError", [](const DCB& s) -> unsigned { return s.fAbortOnError; }},
    {"XonLim", [](const DCB& s) -> unsigned { return s.XonLim; }},
    {"XoffLim", [](const DCB& s) -> unsigned { return s.XoffLim; }},
    {"ByteSize", [](const DCB& s) -> unsigned { return s.ByteSize; }},
    {"Parity", [](const DCB& s) -> unsigned { return s.Parity; }},
    {"StopBits", [](const DCB& s) -> unsigned { return s.StopBits; }},
    {"XonChar", [](const DCB& s) -> unsigned { return static_cast<unsigned char>(s.XonChar); }},
    {"XoffChar", [](const DCB& s) -> unsigned { return static_cast<unsigned char>(s.XoffChar); }},
    {"ErrorChar", [](const DCB& s) -> unsigned { return static_cast<unsigned char>(s.ErrorChar); }},
    {"EofChar", [](const DCB& s) -> unsigned { return static_cast<unsigned char>(s.EofChar); }},
    {"EvtChar", [](const DCB& s) -> unsigned { return static_cast<unsigned char>(s.EvtChar); }},
};

} // namespace

const char* CallName(CallKind kind) {
    constexpr const char* kNames[] = {"CreateFileW",  "GetFileType",  "EscapeCommFunction",
                                      "GetCommState", "SetCommState", "GetCommProperties",
                                      "SetupComm",    "WriteFile",    "CloseHandle"};
    return kNames[static_cast<int>(kind)];
}

DCB ForeignLineState() {
    DCB state{};
    state.DCBlength = sizeof(DCB);
    state.BaudRate = 115200;
    state.fBinary = TRUE;
    state.fParity = TRUE;
    state.fOutxCtsFlow = TRUE;
    state.fOutxDsrFlow = TRUE;
    state.fDtrControl = DTR_CONTROL_HANDSHAKE;
    state.fDsrSensitivity = TRUE;
    state.fTXContinueOnXoff = TRUE;
    state.fOutX = TRUE;
    state.fInX = TRUE;
    state.fErrorChar = TRUE;
    state.fNull = TRUE;
    state.fRtsControl = RTS_CONTROL_HANDSHAKE;
    state.fAbortOnError = TRUE;
    state.XonLim = 11;
    state.XoffLim = 22;
    state.ByteSize = 7;
    state.Parity = EVENPARITY;
    state.StopBits = TWOSTOPBITS;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.ErrorChar = '?';
    state.EofChar = 0x1A;
    state.EvtChar = '\n';
    return state;
}

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

FakeDevice::FakeDevice(FakeDriver driver) : driver_(std::move(driver)) {
    active = this;
    previous_ = InstallDeviceCalls(&kFakeDeviceCalls);
}

FakeDevice::~FakeDevice() {
    const std::vector<HANDLE> opened = Opened();
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

std::vector<DeviceCall> FakeDevice::Calls() const {
    AcquireSRWLockShared(&lock_);
    std::vector<DeviceCall> calls = calls_;
    ReleaseSRWLockShared(&lock_);
    return calls;
}

std::vector<DeviceCall> FakeDevice::CallsOf(CallKind kind) const {
    std::vector<DeviceCall> calls = Calls();
    std::erase_if(calls, [kind](const DeviceCall& call) { return call.kind != kind; });
    return calls;
}

void FakeDevice::ForgetCalls() {
    AcquireSRWLockExclusive(&lock_);
    calls_.clear();
    ReleaseSRWLockExclusive(&lock_);
}

std::vector<HANDLE> FakeDevice::Opened() const {
    AcquireSRWLockShared(&lock_);
    std::vector<HANDLE> opened = opened_;
    ReleaseSRWLockShared(&lock_);
    return opened;
}

void FakeDevice::Record(const DeviceCall& call) {
    AcquireSRWLockExclusive(&lock_);
    calls_.push_back(call);
    ReleaseSRWLockExclusive(&lock_);
}

const Fault* FakeDevice::PlannedFault(CallKind kind) {
    AcquireSRWLockExclusive(&lock_);
    const int occurrence = ++counts_[static_cast<int>(kind)];
    ReleaseSRWLockExclusive(&lock_);
    for (const Fault& fault : driver_.faults) {
        if (fault.kind == kind && fault.occurrence == occurrence) {
            return &fault;
        }
    }
    return nullptr;
}

HANDLE FakeDevice::NextHandle() {
    AcquireSRWLockExclusive(&lock_);
    // Far from any handle the process really has.
    HANDLE handle = reinterpret_cast<HANDLE>(0x7000'0000u + 4u * (opened_.size() + 1));
    opened_.push_back(handle);
    ReleaseSRWLockExclusive(&lock_);
    return handle;
}
