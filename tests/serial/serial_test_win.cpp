// The serial subsystem against a driver in memory behind the device-call table, for what
// Wine's real driver cannot show: every call with its arguments and the process state around
// it, single calls that fail, and every member of the line state.
#include "exports/port_table.h"
#include "exports/wendle.h"
#include "serial/win/device_calls.h"
#include "serial/win/spin_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// The `occurrence`-th call named `call` (from 1) does nothing, leaves `error` as the last
// error and returns `result` (for CreateFileW: a handle when `result` is TRUE).
struct Fault {
    const char* call;
    int occurrence;
    DWORD error, result;
};

// Every member of the line state but its length, in the order of the DCB.
// clang-format off
#define WENDLE_MEMBER(m) \
    {#m, [](const DCB& s) -> unsigned { return std::make_unsigned_t<decltype(DCB::m)>(s.m); }}
constexpr struct {
    const char* name;
    unsigned (*value)(const DCB&);
} kMembers[] = {
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

// The driver's line state, in which every member differs from what opening applies. The
// driver forgets every write, so that each SetCommState shows its own change alone.
const DCB kDriverState = [] {
    DCB state;
    std::memset(&state, 0xFF, sizeof state);
    state.DCBlength = sizeof state;
    return state;
}();

// Installed for its lifetime. `calls` holds each call and its arguments: "SetCommState
// fOutxCtsFlow=0" (the members it changes); " (unguarded)" ends a call made otherwise than
// under the device-call lock alone, with the error boxes off and the last error cleared.
struct FakeDevice {
    explicit FakeDevice(std::vector<Fault> faults);
    ~FakeDevice();
    std::vector<Fault> faults;
    std::vector<std::string> calls;
    std::map<std::string, int> counts{}; // calls by name
};

FakeDevice* active = nullptr;

// Records the call: the result of the fault planned for it, with its error set, or
// `success` after `effect`.
template <typename Effect> DWORD Call(std::string text, Effect effect, DWORD success = TRUE) {
    const DWORD last_error = GetLastError();
    const UINT error_mode = GetErrorMode();
    const std::string name = text.substr(0, text.find(' '));
    if (!DeviceCallLock.test() || TableLock.test() || last_error != 0 ||
        error_mode != (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {
        text += " (unguarded)";
    }
    active->calls.push_back(std::move(text));
    const int occurrence = ++active->counts[name];
    for (const Fault& fault : active->faults) {
        if (fault.call == name && fault.occurrence == occurrence) {
            SetLastError(fault.error);
            return fault.result;
        }
    }
    SetLastError(last_error);
    effect();
    return success;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE template_file) {
    const std::string text = "CreateFileW " + std::string(name, name + std::wcslen(name));
    char args[96];
    std::snprintf(args, sizeof args, " %lx %lu %lu/%d/%d %lu %lx %d", access, share,
                  security->nLength, security->lpSecurityDescriptor != nullptr,
                  security->bInheritHandle, disposition, flags, template_file != nullptr);
    // Far from any handle the process really has.
    const auto device = reinterpret_cast<HANDLE>(std::uintptr_t{0x7000'0000});
    return Call(text + args, [] {}) ? device : INVALID_HANDLE_VALUE;
}

DWORD WINAPI FakeGetFileType(HANDLE) {
    return Call(
        "GetFileType", [] {}, FILE_TYPE_CHAR);
}

BOOL WINAPI FakeEscapeComm(HANDLE, DWORD function) {
    return Call("EscapeCommFunction " + std::to_string(function), [] {});
}

BOOL WINAPI FakeGetCommState(HANDLE, LPDCB state) {
    return Call("GetCommState", [&] { *state = kDriverState; });
}

BOOL WINAPI FakeSetCommState(HANDLE, LPDCB state) {
    std::string text = "SetCommState";
    for (const auto& member : kMembers) {
        if (member.value(*state) != member.value(kDriverState)) {
            text.append(" ").append(member.name).append("=") +=
                std::to_string(member.value(*state));
        }
    }
    return Call(text, [] {});
}

BOOL WINAPI FakeGetCommProperties(HANDLE, LPCOMMPROP properties) {
    return Call("GetCommProperties", [&] {
        properties->dwCurrentRxQueue = 333;
        properties->dwCurrentTxQueue = 4444;
    });
}

BOOL WINAPI FakeSetupComm(HANDLE, DWORD input_size, DWORD output_size) {
    return Call("SetupComm " + std::to_string(input_size) + " " + std::to_string(output_size),
                [] {});
}

// "WriteFile <bytes>", marked when the caller passes an OVERLAPPED or no count.
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    std::string text = "WriteFile " + std::string(static_cast<const char*>(bytes), count);
    text += std::string(overlapped ? " overlapped" : "") + (written ? "" : " uncounted");
    return Call(text, [] {});
}

BOOL WINAPI FakeCloseHandle(HANDLE) {
    return Call("CloseHandle", [] {});
}

constexpr DeviceCalls kFakeDeviceCalls{
    &FakeCreateFile,        &FakeGetFileType, &FakeEscapeComm, &FakeGetCommState, &FakeSetCommState,
    &FakeGetCommProperties, &FakeSetupComm,   &FakeWriteFile,  &FakeCloseHandle,
};

FakeDevice::FakeDevice(std::vector<Fault> faults) : faults(std::move(faults)) {
    active = this;
    InstallDeviceCalls(&kFakeDeviceCalls);
}

// Closes the port an open left, so that later draws find every number free.
FakeDevice::~FakeDevice() {
    SER_CLOSE();
    InstallDeviceCalls(nullptr);
}

using Texts = std::vector<std::string>;

// The security record's size: three 4-byte members on x86, 8-byte aligned on x64.
std::string Create(const std::string& name) {
    return "CreateFileW " + name + " c0000000 0 " + (sizeof(void*) == 8 ? "24" : "12") +
           "/0/1 3 80 0";
}

// Only the handle tells whether the device opened; a disk file is closed again. Neither
// refused open leaves a port to send to.
TEST(PortOpen, FailedOpenAndDiskFileAreRefused) {
    FakeDevice fake({{"CreateFileW", 1, 0, FALSE}, {"GetFileType", 1, 0, FILE_TYPE_DISK}});
    EXPECT_EQ(SER_OPEN(10, 4800), 0);
    SER_RAWSEND_BV(SysAllocStringByteLen("x", 1));
    EXPECT_EQ(SER_OPEN(3, 9600), 0);
    SER_RAWSEND_BV(SysAllocStringByteLen("x", 1));
    EXPECT_EQ(fake.calls,
              (Texts{Create(R"(\\.\COM10)"), Create("COM3"), "GetFileType", "CloseHandle"}));
}

// An open, a send and two closes as the driver sees them; the caller's error mode is given
// back. An open that leaves an error, of a type unknown, succeeds. A state read fails when it
// leaves an error or reports failure, and its write is left out; a failing step loses its own
// change alone. Each queue setting asks for 1024 bytes on its side and repeats the driver's
// size for the other. A close the driver fails still reports success.
TEST(DeviceCalls, OpenSendCloseInOrderGuardedFailingStepsAlone) {
    FakeDevice fake({{"CreateFileW", 1, ERROR_ALREADY_EXISTS, TRUE},
                     {"GetFileType", 1, 0, FILE_TYPE_UNKNOWN},
                     {"SetCommState", 1, ERROR_INVALID_PARAMETER, FALSE},
                     {"GetCommState", 3, ERROR_GEN_FAILURE, TRUE},
                     {"GetCommState", 12, 0, FALSE},
                     {"CloseHandle", 1, ERROR_INVALID_HANDLE, FALSE}});
    const UINT saved = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetLastError(ERROR_MORE_DATA);
    ASSERT_EQ(SER_OPEN(2, 19200), 1);
    SER_SEND_BV(SysAllocStringByteLen("A<13>", 5));
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(SetErrorMode(saved), UINT(SEM_NOGPFAULTERRORBOX));
    // clang-format off
    const Texts expected = {
        Create("COM2"), "GetFileType",
        "EscapeCommFunction 9 (unguarded)", // CLRBREAK, the one call made as it stands
        "GetCommState", "SetCommState BaudRate=19200", // fails
        "GetCommState", "SetCommState fParity=0 ByteSize=8 Parity=0 StopBits=0",
        "GetCommState", // fails: no fOutxCtsFlow=0
        "GetCommState", "SetCommState fOutxDsrFlow=0",
        "GetCommState", "SetCommState fDsrSensitivity=0",
        "GetCommState", "SetCommState fDtrControl=0",
        "GetCommState", "SetCommState fDtrControl=0",
        "GetCommState", "SetCommState fNull=0",
        "GetCommState", "SetCommState fParity=0",
        "GetCommState", "SetCommState fErrorChar=0",
        "GetCommState", "SetCommState Parity=0",
        "GetCommState", // fails: no fRtsControl=0
        "GetCommProperties", "SetupComm 1024 4444",
        "GetCommState", "SetCommState StopBits=0",
        "GetCommProperties", "SetupComm 333 1024",
        "GetCommState", "SetCommState fTXContinueOnXoff=0 fInX=0",
        "GetCommState", "SetCommState fTXContinueOnXoff=0 fOutX=0",
        "WriteFile A\r", "CloseHandle",
    };
    // clang-format on
    EXPECT_EQ(fake.calls, expected);
}

// A properties read that fails leaves its queue setting out and the rest of the open goes on.
TEST(LineSettings, FailedPropertiesReadLosesItsQueueAlone) {
    FakeDevice fake({{"GetCommProperties", 1, ERROR_GEN_FAILURE, FALSE}});
    ASSERT_EQ(SER_OPEN(4, 1200), 1);
    EXPECT_EQ(
        Texts(std::ranges::find(fake.calls, "GetCommProperties"), fake.calls.end()),
        (Texts{"GetCommProperties", "GetCommState", "SetCommState StopBits=0", "GetCommProperties",
               "SetupComm 333 1024", "GetCommState", "SetCommState fTXContinueOnXoff=0 fInX=0",
               "GetCommState", "SetCommState fTXContinueOnXoff=0 fOutX=0"}));
}

constexpr int kDrawsPerThread = 500000;

DWORD WINAPI DrawMany(void*) {
    for (int i = 0; i < kDrawsPerThread; ++i) {
        SER_OPEN(0, 9600);
    }
    return 0;
}

// Four threads draw at once: a draw that is not atomic loses numbers, and the slot then
// ends short of where the count says. Several rounds, since on a busy machine the threads
// may overlap seldom.
TEST(PortSlot, ConcurrentDrawsLoseNoNumber) {
    for (int round = 0; round < 8; ++round) {
        SER_OPEN(0, 9600); // the slot shows the draw counter from here on
        const std::int32_t start = PortSlot.load();
        HANDLE threads[4];
        for (HANDLE& thread : threads) {
            thread = CreateThread(nullptr, 0, &DrawMany, nullptr, 0, nullptr);
        }
        WaitForMultipleObjects(4, threads, TRUE, INFINITE);
        for (HANDLE thread : threads) {
            CloseHandle(thread);
        }
        SER_OPEN(0, 9600);
        ASSERT_EQ(PortSlot.load(), (start + 4 * kDrawsPerThread) % 32767 + 1) << "round " << round;
    }
}

} // namespace
