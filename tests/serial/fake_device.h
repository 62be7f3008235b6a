// A serial driver in memory, installed behind the device-call table, for
// what Wine's real driver cannot show: every call with its arguments and the
// state of the process around it, a driver that rejects or fails single
// calls, and a line state whose every member can be watched. The product
// makes its device calls one at a time and the tests drive it from one
// thread, so the fake needs no lock of its own.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <optional>
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

struct DeviceCall {
    CallKind kind;
    HANDLE handle;
    // What surrounded the call when the driver received it.
    UINT errorMode;
    DWORD lastError;
    bool deviceCallLockHeld, tableLockHeld;
    // CreateFileW
    std::wstring name;
    DWORD access, share, disposition, flags;
    bool hasSecurity;
    SECURITY_ATTRIBUTES security;
    HANDLE templateFile;
    DWORD function;              // EscapeCommFunction
    DCB state;                   // SetCommState
    DWORD inputSize, outputSize; // SetupComm
    std::string bytes;           // WriteFile
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
struct FakeDevice {
    explicit FakeDevice(FakeDriver driver = {});
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    static FakeDevice& Active();
    std::vector<DeviceCall> CallsOf(CallKind kind) const;
    // "CreateFileW", "GetFileType", ... in the order of the calls.
    std::vector<std::string> CallNames() const;
    // Records the call; the fault planned for it, if any.
    const Fault* Enter(const DeviceCall& call);
    HANDLE NextHandle();

    FakeDriver driver;
    std::vector<DeviceCall> calls;
    std::vector<HANDLE> opened; // the handles given out, in order

  private:
    int counts_[9] = {};
    const DeviceCalls* previous_;
};

// A new string of the bytes; a null one for nullopt.
BSTR Bytes(const std::optional<std::string>& text);
std::string Text(BSTR text);
