// Opening a port: the device name and open arguments, the refusals, the
// seventeen line settings with what each one changes, and how every device
// call is made.
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

TEST(OpenDevice, NameAndOpenArguments) {
    const struct {
        LONG port;
        std::string name;
    } cases[] = {{1, "COM1"}, {9, "COM9"}, {10, R"(\\.\COM10)"}, {99, R"(\\.\COM99)"}};
    for (const auto& c : cases) {
        FakeDevice fake;
        ASSERT_EQ(SER_OPEN(c.port, 9600), 1) << c.port;
        EXPECT_EQ(fake.calls.at(0).text,
                  "CreateFileW " + c.name + " c0000000 0 " + kSecurity + " 3 80 0");
        SER_CLOSE();
    }
}

TEST(OpenDevice, RefusedDevicesLeaveNothingOpen) {
    const std::string create = "CreateFileW COM3 c0000000 0 " + kSecurity + " 3 80 0";
    constexpr Fault kNone{CallKind::CreateFile, 0, 0, FALSE}; // an occurrence never reached
    // clang-format off
    const struct {
        const char* what;
        Fault fault;
        DWORD file_type;
        LONG opened;
        Texts calls; // all of them, for a refused device
    } cases[] = {
        {"no such device", {CallKind::CreateFile, 1, ERROR_FILE_NOT_FOUND, FALSE}, FILE_TYPE_CHAR,
         0, {create}},
        {"invalid handle without an error", {CallKind::CreateFile, 1, 0, FALSE}, FILE_TYPE_CHAR, 0,
         {create}},
        // Only the handle tells whether the open worked.
        {"handle with a stray error", {CallKind::CreateFile, 1, ERROR_ALREADY_EXISTS, TRUE},
         FILE_TYPE_CHAR, 1, {}},
        {"disk file", kNone, FILE_TYPE_DISK, 0, {create, "GetFileType", "CloseHandle"}},
        {"type unknown", kNone, FILE_TYPE_UNKNOWN, 1, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.fileType = c.file_type, .faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(3, 9600), c.opened);
        EXPECT_EQ(FindPortInSlot(), c.opened ? fake.opened.at(0) : nullptr);
        if (!c.opened) {
            EXPECT_EQ(fake.Texts(), c.calls);
        }
    }
}

// An open, a send and a close as the driver sees them. The driver here
// forgets every write, so each SetCommState shows its own change alone.
// Every call but the break's is made under the device-call lock, never with
// the table lock, with the error boxes off and the last error cleared; the
// caller's error mode is given back.
TEST(DeviceCalls, OpenSendCloseInOrderAndGuarded) {
    FakeDevice fake(FakeDriver{.keepsState = false, .inputQueue = 333, .outputQueue = 4444});
    const UINT saved = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetLastError(ERROR_MORE_DATA);
    ASSERT_EQ(SER_OPEN(2, 19200), 1);
    BSTR text = Bytes("A<13>");
    SER_SEND(&text);
    SysFreeString(text);
    SER_CLOSE();
    EXPECT_EQ(SetErrorMode(saved), UINT(SEM_NOGPFAULTERRORBOX));
    // clang-format off
    const Texts expected = {
        "CreateFileW COM2 c0000000 0 " + kSecurity + " 3 80 0", "GetFileType",
        "EscapeCommFunction 9", // CLRBREAK
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
    EXPECT_EQ(fake.Texts(), expected);
    for (std::size_t i = 1; i < fake.calls.size(); ++i) {
        const DeviceCall& call = fake.calls[i];
        SCOPED_TRACE(call.text);
        EXPECT_EQ(call.handle, fake.opened.at(0));
        EXPECT_FALSE(call.tableLockHeld);
        // Clearing the break is the one call made as it stands.
        const bool guarded = call.kind != CallKind::EscapeComm;
        EXPECT_EQ(call.deviceCallLockHeld, guarded);
        if (guarded) {
            EXPECT_EQ(call.errorMode, UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
            EXPECT_EQ(call.lastError, 0u);
        }
    }
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
// and when it reports failure without one; its write is then left out.
TEST(LineSettings, FailingStepIsLostAlone) {
    // clang-format off
    const struct {
        const char* what;
        Fault fault;
        std::string changes;
        std::size_t state_writes;
    } cases[] = {
        {"rate rejected", {CallKind::SetCommState, 1, ERROR_INVALID_PARAMETER, FALSE},
         Without(kConfigured, "BaudRate"), 15},
        {"state unreadable for XON/XOFF input", {CallKind::GetCommState, 14, ERROR_GEN_FAILURE, FALSE},
         Without(kConfigured, "fInX"), 14},
        {"read leaves an error though it reports success",
         {CallKind::GetCommState, 3, ERROR_GEN_FAILURE, TRUE}, Without(kConfigured, "fOutxCtsFlow"),
         14},
        {"read reports failure without an error", {CallKind::GetCommState, 12, 0, FALSE},
         Without(kConfigured, "fRtsControl"), 14},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(4, 1200), 1);
        EXPECT_EQ(LineStateChanges(ForeignLineState(), fake.driver.state), c.changes);
        EXPECT_EQ(fake.counts[static_cast<int>(CallKind::SetCommState)], int(c.state_writes));
    }
}

// Each queue setting asks for 1024 bytes on its side and repeats what the
// driver reports, at that moment, for the other.
TEST(LineSettings, QueueSettingsFollowWhatTheDriverReports) {
    const struct {
        const char* what;
        std::vector<Fault> faults;
        Texts setups;
    } cases[] = {
        {"both apply", {}, {"SetupComm 1024 4096", "SetupComm 1024 1024"}},
        {"input queue rejected",
         {{CallKind::SetupComm, 1, ERROR_INVALID_PARAMETER, FALSE}},
         {"SetupComm 1024 4096", "SetupComm 2048 1024"}},
        {"properties unreadable for the input queue",
         {{CallKind::GetCommProperties, 1, ERROR_GEN_FAILURE, FALSE}},
         {"SetupComm 2048 1024"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = c.faults});
        EXPECT_EQ(SER_OPEN(6, 2400), 1);
        Texts setups = fake.Texts();
        std::erase_if(setups,
                      [](const std::string& text) { return !text.starts_with("SetupComm"); });
        EXPECT_EQ(setups, c.setups);
    }
}

} // namespace
