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

BOOL WINAPI FakeSetupComm(HANDLE handle, DWORD input_size, DWORD output_size) {
    DeviceCall call = Begin(CallKind::SetupComm, handle);
    call.inputSize = input_size;
    call.outputSize = output_size;
    if (const Fault* fault = Enter(call)) {
        return fault->result;
    }
    FakeDriver& driver = FakeDevice::Active().Driver();
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

// Holds the fake's lock for a scope; the fakes may run on any thread.
class Locked {
  public:
    explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Locked() { ReleaseSRWLockExclusive(&lock_); }

  private:
    SRWLOCK& lock_;
};

} // namespace

const char* CallName(CallKind kind) {
    constexpr const char* kNames[] = {"CreateFileW",  "GetFileType",  "EscapeCommFunction",
                                      "GetCommState", "SetCommState", "GetCommProperties",
                                      "SetupComm",    "WriteFile",    "CloseHandle"};
    return kNames[static_cast<int>(kind)];
}

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
    Locked locked(lock_);
    return calls_;
}

std::vector<DeviceCall> FakeDevice::CallsOf(CallKind kind) const {
    std::vector<DeviceCall> calls = Calls();
    std::erase_if(calls, [kind](const DeviceCall& call) { return call.kind != kind; });
    return calls;
}

void FakeDevice::ForgetCalls() {
    Locked locked(lock_);
    calls_.clear();
}

std::vector<HANDLE> FakeDevice::Opened() const {
    Locked locked(lock_);
    return opened_;
}

void FakeDevice::Record(const DeviceCall& call) {
    Locked locked(lock_);
    calls_.push_back(call);
}

const Fault* FakeDevice::PlannedFault(CallKind kind) {
    Locked locked(lock_);
    const int occurrence = ++counts_[static_cast<int>(kind)];
    for (const Fault& fault : driver_.faults) {
        if (fault.kind == kind && fault.occurrence == occurrence) {
            return &fault;
        }
    }
    return nullptr;
}

HANDLE FakeDevice::NextHandle() {
    Locked locked(lock_);
    // Far from any handle the process really has.
    opened_.push_back(reinterpret_cast<HANDLE>(0x7000'0000u + 4u * (opened_.size() + 1)));
    return opened_.back();
}
