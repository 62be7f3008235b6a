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
    DWORD error;
    BOOL result;
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

// A line state in which every member differs from what opening applies.
DCB ForeignLineState() {
    DCB state;
    std::memset(&state, 0xFF, sizeof state);
    state.DCBlength = sizeof state;
    return state;
}

// "fOutxCtsFlow=0 ByteSize=8": the members in which `after` differs from
// `before`, in the order of the DCB.
std::string LineStateChanges(const DCB& before, const DCB& after) {
    std::string changes;
    for (const auto& member : kMembers) {
        if (member.value(before) != member.value(after)) {
            changes.append(changes.empty() ? "" : " ").append(member.name).append("=");
            changes += std::to_string(member.value(after));
        }
    }
    return changes;
}

struct FakeDriver {
    DCB state = ForeignLineState();
    // Whether SetCommState and SetupComm change what later calls report.
    bool keepsState = true;
    DWORD inputQueue = 2048, outputQueue = 4096;
    DWORD fileType = FILE_TYPE_CHAR;
    std::vector<Fault> faults = {};
};

// Installed for its lifetime; closes the ports it opened that are left open.
struct FakeDevice {
    explicit FakeDevice(FakeDriver driver = {});
    ~FakeDevice();
    FakeDriver driver;
    // Each call and its arguments: "SetCommState fOutxCtsFlow=0" (the members
    // it changes); " (unguarded)" ends a call made otherwise than under the
    // device-call lock alone, with the error boxes off and the last error cleared.
    std::vector<std::string> calls;
    std::vector<HANDLE> opened;          // the handles given out, in order
    std::map<std::string, int> counts{}; // calls by name
};

FakeDevice* active = nullptr;

// Records the call and gives the fault planned for it, with its error set.
const Fault* Enter(std::string text) {
    const DWORD last_error = GetLastError();
    const UINT error_mode = SetErrorMode(0);
    SetErrorMode(error_mode);
    const std::string name = text.substr(0, text.find(' '));
    if (!DeviceCallLock.test() || TableLock.test() || last_error != 0 ||
        error_mode != (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {
        text += " (unguarded)";
    }
    active->calls.push_back(std::move(text));
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

// Records the call: the planned fault's result, or success after `effect`.
template <typename Effect> BOOL Call(std::string text, Effect effect) {
    if (const Fault* fault = Enter(std::move(text))) {
        return fault->result;
    }
    effect();
    return TRUE;
}

HANDLE WINAPI FakeCreateFile(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE template_file) {
    const std::string text = "CreateFileW " + std::string(name, name + std::wcslen(name));
    char args[96];
    std::snprintf(args, sizeof args, " %lx %lu %lu/%d/%d %lu %lx %d", access, share,
                  security->nLength, security->lpSecurityDescriptor != nullptr,
                  security->bInheritHandle, disposition, flags, template_file != nullptr);
    if (!Call(text + args, [] {})) {
        return INVALID_HANDLE_VALUE;
    }
    // Far from any handle the process really has.
    active->opened.push_back(reinterpret_cast<HANDLE>(0x7000'0000u + 4 * active->opened.size()));
    return active->opened.back();
}

DWORD WINAPI FakeGetFileType(HANDLE) {
    Enter("GetFileType");
    return active->driver.fileType;
}

BOOL WINAPI FakeEscapeComm(HANDLE, DWORD function) {
    return Call("EscapeCommFunction " + std::to_string(function), [] {});
}

BOOL WINAPI FakeGetCommState(HANDLE, LPDCB state) {
    return Call("GetCommState", [&] { *state = active->driver.state; });
}

BOOL WINAPI FakeSetCommState(HANDLE, LPDCB state) {
    FakeDriver& driver = active->driver;
    return Call("SetCommState " + LineStateChanges(driver.state, *state),
                [&] { driver.state = driver.keepsState ? *state : driver.state; });
}

BOOL WINAPI FakeGetCommProperties(HANDLE, LPCOMMPROP properties) {
    return Call("GetCommProperties", [&] {
        properties->dwCurrentRxQueue = active->driver.inputQueue;
        properties->dwCurrentTxQueue = active->driver.outputQueue;
    });
}

BOOL WINAPI FakeSetupComm(HANDLE, DWORD input_size, DWORD output_size) {
    FakeDriver& driver = active->driver;
    return Call("SetupComm " + std::to_string(input_size) + " " + std::to_string(output_size), [&] {
        driver.inputQueue = driver.keepsState ? input_size : driver.inputQueue;
        driver.outputQueue = driver.keepsState ? output_size : driver.outputQueue;
    });
}

// "WriteFile <bytes>", marked when the caller passes an OVERLAPPED or no count.
BOOL WINAPI FakeWriteFile(HANDLE, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    std::string text = "WriteFile " + std::string(static_cast<const char*>(bytes), count);
    text += std::string(overlapped ? " overlapped" : "") + (written ? "" : " uncounted");
    DWORD uncounted;
    LPDWORD done = written ? written : &uncounted;
    *done = 0;
    return Call(text, [&] { *done = count; });
}

BOOL WINAPI FakeCloseHandle(HANDLE) {
    return Call("CloseHandle", [] {});
}

constexpr DeviceCalls kFakeDeviceCalls{
    &FakeCreateFile,        &FakeGetFileType, &FakeEscapeComm, &FakeGetCommState, &FakeSetCommState,
    &FakeGetCommProperties, &FakeSetupComm,   &FakeWriteFile,  &FakeCloseHandle,
};

FakeDevice::FakeDevice(FakeDriver driver) : driver(std::move(driver)) {
    active = this;
    InstallDeviceCalls(&kFakeDeviceCalls);
}

FakeDevice::~FakeDevice() {
    for (std::int32_t number = 1; number <= kHighestPortNumber; ++number) {
        if (std::ranges::find(opened, FindPort(number)) != opened.end()) {
            TakePort(number).Reset();
        }
    }
    InstallDeviceCalls(nullptr);
    active = nullptr;
}

using Texts = std::vector<std::string>;

// The security record's size: three 4-byte members on x86, 8-byte aligned on x64.
std::string Create(const std::string& name) {
    return "CreateFileW " + name + " c0000000 0 " + (sizeof(void*) == 8 ? "24" : "12") +
           "/0/1 3 80 0";
}

// Only the handle tells whether the device opened; a disk file is closed again.
TEST(PortOpen, WhatOpensAndWhatIsRefused) {
    const Fault none{"CreateFileW", 0, 0, FALSE}; // an occurrence never reached
    // clang-format off
    const struct {
        LONG port, baud;
        Fault fault;
        DWORD file_type;
        LONG opened;
        Texts calls; // all of a refused open's; an open's first
    } cases[] = {
        {10, 4800, {"CreateFileW", 1, 0, FALSE}, FILE_TYPE_CHAR, 0, {Create(R"(\\.\COM10)")}},
        {3, 9600, {"CreateFileW", 1, ERROR_ALREADY_EXISTS, TRUE}, FILE_TYPE_CHAR, 1, {Create("COM3")}},
        {3, 9600, none, FILE_TYPE_DISK, 0, {Create("COM3"), "GetFileType", "CloseHandle"}},
        {3, 19200, none, FILE_TYPE_UNKNOWN, 1, {Create("COM3")}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.port << " " << c.baud << " " << c.calls.size());
        FakeDevice fake(FakeDriver{.fileType = c.file_type, .faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(c.port, c.baud), c.opened);
        EXPECT_EQ(c.opened ? Texts(fake.calls.begin(), fake.calls.begin() + 1) : fake.calls,
                  c.calls);
        SER_RAWSEND_BV(SysAllocStringByteLen("x", 1));
        EXPECT_EQ(fake.counts["WriteFile"], c.opened);
    }
}

// An open, a send and two closes as the driver sees them; the caller's error
// mode is given back. A close the driver fails still reports success. The
// driver forgets every write: each SetCommState shows its change alone.
TEST(DeviceCalls, OpenSendCloseInOrderAndGuarded) {
    FakeDevice fake(FakeDriver{.keepsState = false,
                               .inputQueue = 333,
                               .outputQueue = 4444,
                               .faults = {{"CloseHandle", 1, ERROR_INVALID_HANDLE, FALSE}}});
    const UINT saved = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetLastError(ERROR_MORE_DATA);
    ASSERT_EQ(SER_OPEN(2, 19200), 1);
    BSTR text = SysAllocStringByteLen("A<13>", 5);
    SER_SEND(&text);
    SysFreeString(text);
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(SetErrorMode(saved), UINT(SEM_NOGPFAULTERRORBOX));
    // clang-format off
    const Texts expected = {
        Create("COM2"), "GetFileType",
        "EscapeCommFunction 9 (unguarded)", // CLRBREAK, the one call made as it stands
        "GetCommState", "SetCommState BaudRate=19200",
        "GetCommState", "SetCommState fParity=0 ByteSize=8 Parity=0 StopBits=0",
        "GetCommState", "SetCommState fOutxCtsFlow=0",
        "GetCommState", "SetCommState fOutxDsrFlow=0",
        "GetCommState", "SetCommState fDsrSensitivity=0",
        "GetCommState", "SetCommState fDtrControl=0",
        "GetCommState", "SetCommState fDtrControl=0",
        "GetCommState", "SetCommState fNull=0",
        "GetCommState", "SetCommState fParity=0",
        "GetCommState", "SetCommState fErrorChar=0",
        "GetCommState", "SetCommState Parity=0",
        "GetCommState", "SetCommState fRtsControl=0",
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

// The line's final configuration; every member not named keeps the driver's.
constexpr const char* kConfigured = "BaudRate=1200 fParity=0 fOutxCtsFlow=0 fOutxDsrFlow=0 "
                                    "fDtrControl=0 fDsrSensitivity=0 fTXContinueOnXoff=0 fOutX=0 "
                                    "fInX=0 fErrorChar=0 fNull=0 fRtsControl=0 ByteSize=8 Parity=0 "
                                    "StopBits=0";

std::string Without(std::string text, const std::string& member) {
    const std::size_t at = text.find(member + "=");
    return text.erase(at, text.find(' ', at) - at + 1);
}

// A step that fails loses its own change alone, and the open succeeds. A state
// read fails when it leaves an error or reports failure; its write is then left
// out. Each queue setting asks for 1024 bytes on its side and repeats what the
// driver reports, at that moment, for the other.
TEST(LineSettings, FailingStepIsLostAlone) {
    // clang-format off
    const struct {
        Fault fault;
        const char* lost; // the member left as the driver had it, if any
        int state_writes;
        DWORD input_queue, output_queue;
    } cases[] = {
        {{"SetCommState", 1, ERROR_INVALID_PARAMETER, FALSE}, "BaudRate", 15, 1024, 1024},
        {{"GetCommState", 3, ERROR_GEN_FAILURE, TRUE}, "fOutxCtsFlow", 14, 1024, 1024},
        {{"GetCommState", 12, 0, FALSE}, "fRtsControl", 14, 1024, 1024},
        {{"GetCommProperties", 1, ERROR_GEN_FAILURE, FALSE}, nullptr, 15, 2048, 1024},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fault.call << " " << c.fault.occurrence);
        FakeDevice fake(FakeDriver{.faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(4, 1200), 1);
        EXPECT_EQ(LineStateChanges(ForeignLineState(), fake.driver.state),
                  c.lost ? Without(kConfigured, c.lost) : kConfigured);
        EXPECT_EQ(fake.counts["SetCommState"], c.state_writes);
        EXPECT_EQ(fake.driver.inputQueue, c.input_queue);
        EXPECT_EQ(fake.driver.outputQueue, c.output_queue);
    }
}

constexpr int kDrawsPerThread = 500000;

DWORD WINAPI DrawMany(void* start) {
    WaitForSingleObject(start, INFINITE);
    for (int i = 0; i < kDrawsPerThread; ++i) {
        SER_OPEN(0, 9600);
    }
    return 0;
}

// Four threads draw at once: a draw that is not atomic loses numbers, and
// the slot then ends short of where the count says. Several rounds, since on
// a busy machine the threads may overlap seldom.
TEST(PortSlot, ConcurrentDrawsLoseNoNumber) {
    FakeDevice fake;
    for (int round = 0; round < 8; ++round) {
        SER_OPEN(0, 9600); // the slot shows the draw counter from here on
        const std::int32_t start = PortSlot.load();
        HANDLE handles[5] = {CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        for (int i = 1; i < 5; ++i) {
            handles[i] = CreateThread(nullptr, 0, &DrawMany, handles[0], 0, nullptr);
            ASSERT_NE(handles[i], nullptr);
        }
        SetEvent(handles[0]);
        WaitForMultipleObjects(4, handles + 1, TRUE, INFINITE);
        for (HANDLE handle : handles) {
            CloseHandle(handle);
        }
        SER_OPEN(0, 9600);
        ASSERT_EQ(PortSlot.load(), (start + 4 * kDrawsPerThread) % 32767 + 1) << "round " << round;
    }
}

} // namespace
