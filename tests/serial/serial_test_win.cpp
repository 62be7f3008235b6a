// The serial subsystem as the driver sees it: the opens it refuses, the
// seventeen line settings with what each changes, how every device call is
// made, what a call the driver fails costs; and the number draw under
// threads, which the slot shows as no caller can.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

// The security record's size: three 4-byte members on x86, 8-byte aligned on x64.
const std::string kSecurity = sizeof(void*) == 8 ? "24/0/1" : "12/0/1";

std::string Create(const std::string& name) {
    return "CreateFileW " + name + " c0000000 0 " + kSecurity + " 3 80 0";
}

// Only the handle tells whether the device opened; a disk file is closed
// again; a send writes to what opened.
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
        {99, 38400, none, FILE_TYPE_CHAR, 1, {Create(R"(\\.\COM99)")}},
        {1, 1200, none, FILE_TYPE_CHAR, 1, {Create("COM1")}},
        {9, 9600, {"CreateFileW", 1, ERROR_FILE_NOT_FOUND, FALSE}, FILE_TYPE_CHAR, 0, {Create("COM9")}},
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

// An open, a send and two closes as the driver sees them, each call given
// the port's handle; the caller's error mode is given back. A close the
// driver fails still reports success, and the port is gone for the second. The driver here
// forgets every write, so each SetCommState shows its own change alone.
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
        "CreateFileW COM2 c0000000 0 " + kSecurity + " 3 80 0", "GetFileType",
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
    std::vector<HANDLE> handles(expected.size(), fake.opened.at(0));
    handles[0] = nullptr;
    EXPECT_EQ(fake.handles, handles);
}

// The configuration the line ends with; every member not named keeps the
// driver's value.
constexpr const char* kConfigured = "BaudRate=1200 fParity=0 fOutxCtsFlow=0 fOutxDsrFlow=0 "
                                    "fDtrControl=0 fDsrSensitivity=0 fTXContinueOnXoff=0 fOutX=0 "
                                    "fInX=0 fErrorChar=0 fNull=0 fRtsControl=0 ByteSize=8 Parity=0 "
                                    "StopBits=0";

std::string Without(std::string text, const std::string& member) {
    const std::size_t at = text.find(member + "=");
    return text.erase(at, text.find(' ', at) - at + 1);
}

// A step that fails loses its own change alone, and the open succeeds. A
// state read counts as failed when it leaves an error, whatever it reports,
// and when it reports failure without one; its write is then left out. Each
// queue setting asks for 1024 bytes on its side and repeats what the driver
// reports, at that moment, for the other.
TEST(LineSettings, FailingStepIsLostAlone) {
    // clang-format off
    const struct {
        const char* what;
        Fault fault;
        std::string changes;
        int state_writes;
        DWORD input_queue, output_queue;
    } cases[] = {
        {"rate rejected", {"SetCommState", 1, ERROR_INVALID_PARAMETER, FALSE},
         Without(kConfigured, "BaudRate"), 15, 1024, 1024},
        {"state unreadable for XON/XOFF input", {"GetCommState", 14, ERROR_GEN_FAILURE, FALSE},
         Without(kConfigured, "fInX"), 14, 1024, 1024},
        {"read leaves an error though it reports success", {"GetCommState", 3, ERROR_GEN_FAILURE, TRUE},
         Without(kConfigured, "fOutxCtsFlow"), 14, 1024, 1024},
        {"read reports failure without an error", {"GetCommState", 12, 0, FALSE},
         Without(kConfigured, "fRtsControl"), 14, 1024, 1024},
        {"input queue rejected", {"SetupComm", 1, ERROR_INVALID_PARAMETER, FALSE}, kConfigured, 15,
         2048, 1024},
        {"properties unreadable for the input queue", {"GetCommProperties", 1, ERROR_GEN_FAILURE, FALSE},
         kConfigured, 15, 2048, 1024},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(4, 1200), 1);
        EXPECT_EQ(LineStateChanges(ForeignLineState(), fake.driver.state), c.changes);
        EXPECT_EQ(fake.counts["SetCommState"], c.state_writes);
        EXPECT_EQ(fake.driver.inputQueue, c.input_queue);
        EXPECT_EQ(fake.driver.outputQueue, c.output_queue);
    }
}

constexpr int kDrawsPerThread = 50000;

DWORD WINAPI DrawMany(void* start) {
    WaitForSingleObject(start, INFINITE);
    for (int i = 0; i < kDrawsPerThread; ++i) {
        SER_OPEN(0, 9600);
    }
    return 0;
}

// Four threads draw at once: a draw that is not atomic loses numbers, and
// the slot then ends short of where the count says.
TEST(PortSlot, ConcurrentDrawsLoseNoNumber) {
    FakeDevice fake;
    SER_OPEN(0, 9600); // the slot shows the draw counter from here on
    for (int round = 0; round < 10; ++round) {
        const std::int32_t start = PortSlot.load();
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE threads[4];
        for (HANDLE& thread : threads) {
            thread = CreateThread(nullptr, 0, &DrawMany, go, 0, nullptr);
            ASSERT_NE(thread, nullptr);
        }
        SetEvent(go);
        WaitForMultipleObjects(4, threads, TRUE, INFINITE);
        for (HANDLE handle : {threads[0], threads[1], threads[2], threads[3], go}) {
            CloseHandle(handle);
        }
        SER_OPEN(0, 9600);
        ASSERT_EQ(PortSlot.load(), (start + 4 * kDrawsPerThread) % 32767 + 1) << round;
    }
}

} // namespace
