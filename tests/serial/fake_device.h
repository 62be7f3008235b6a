// A serial driver in memory, installed behind the device-call table, for
// what Wine's real driver cannot show: every call with its arguments and the
// state of the process around it, a driver that rejects or fails single
// calls, and a line state whose every member can be watched.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DeviceCalls;

enum class CallKind {
    CreateFile,
    GetFileType,
    EscapeComm,
    GetCommState,
    SetCommState,
    GetCommProperties,
    SetupComm,
    WriteFile,
    CloseHandle,
};

const char* CallName(CallKind kind);

// What surrounded a call when the driver received it.
struct CallContext {
    UINT errorMode;
    DWORD lastError;
    bool deviceCallLockHeld;
    bool tableLockHeld;
};

struct DeviceCall {
    CallKind kind;
    HANDLE handle;
    CallContext context;
    // CreateFileW
    std::wstring name;
    DWORD access, share, disposition, flags;
    bool hasSecurity;
    SECURITY_ATTRIBUTES security;
    HANDLE templateFile;
    // EscapeCommFunction
    DWORD function;
    // SetCommState
    DCB state;
    // SetupComm
    DWORD inputSize, outputSize;
    // WriteFile
    std::string bytes;
    bool hasWrittenCount, hasOverlapped;
};

// The `occurrence`-th call of `kind` (counted from 1) fails: it does nothing,
// leaves `error` as the last error and returns `result`.
struct Fault {
    CallKind kind;
    int occurrence;
    DWORD error;
    BOOL result;
};

// A line state in which every member differs from the configuration that
// opening applies.
DCB ForeignLineState();

struct FakeDriver {
    DCB state = ForeignLineState();
    // Whether SetCommState and SetupComm change what later calls report.
    bool keepsState = true;
    DWORD inputQueue = 2048, outputQueue = 4096;
    DWORD fileType = FILE_TYPE_CHAR;
    // A WriteFile takes at most this many bytes.
    DWORD writeLimit = MAXDWORD;
    std::vector<Fault> faults = {};
};

// "fOutxCtsFlow=0 ByteSize=8": the members in which `after` differs from
// `before`, in the order of the DCB.
std::string LineStateChanges(const DCB& before, const DCB& after);

// Installs itself behind the device-call table for its lifetime; ports the
// test leaves in the table are closed when it goes.
class FakeDevice {
  public:
    explicit FakeDevice(FakeDriver driver = {});
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    FakeDriver& Driver() { return driver_; }
    std::vector<DeviceCall> Calls() const;
    std::vector<DeviceCall> CallsOf(CallKind kind) const;
    void ForgetCalls();
    // The handles the driver has given out, in order.
    std::vector<HANDLE> Opened() const;

    // Used by the fake functions.
    static FakeDevice& Active();
    void Record(const DeviceCall& call);
    // Counts the call; the fault planned for it, if any.
    const Fault* PlannedFault(CallKind kind);
    HANDLE NextHandle();

  private:
    FakeDriver driver_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<DeviceCall> calls_;
    std::vector<HANDLE> opened_;
    int counts_[16] = {};
    const DeviceCalls* previous_;
};
