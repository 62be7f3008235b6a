// Opening a port: the device name and open arguments, the file-type check,
// the seventeen line settings with what each one changes; and how every
// device call is made.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TEST(OpenDevice, NameAndOpenArguments) {
    const struct {
        LONG port;
        std::wstring name;
    } cases[] = {{1, L"COM1"}, {9, L"COM9"}, {10, LR"(\\.\COM10)"}, {99, LR"(\\.\COM99)"}};
    for (const auto& c : cases) {
        FakeDevice fake;
        ASSERT_EQ(SER_OPEN(c.port, 9600), 1) << c.port;
        ASSERT_EQ(fake.CallsOf(CallKind::CreateFile).size(), 1u);
        const DeviceCall& open = fake.calls[0];
        EXPECT_TRUE(open.name == c.name) << c.port;
        EXPECT_EQ(open.access, DWORD(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(open.share, 0u);
        ASSERT_TRUE(open.hasSecurity);
        // The record's size: three 4-byte members on x86, 8-byte aligned on x64.
        EXPECT_EQ(open.security.nLength, sizeof(void*) == 8 ? 24u : 12u);
        EXPECT_EQ(open.security.lpSecurityDescriptor, nullptr);
        EXPECT_EQ(open.security.bInheritHandle, TRUE);
        EXPECT_EQ(open.disposition, DWORD(OPEN_EXISTING));
        EXPECT_EQ(open.flags, DWORD(FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(open.templateFile, nullptr);
        SER_CLOSE();
    }
}

TEST(OpenDevice, FailedOpenLeavesNothingOpen) {
    // clang-format off
    const struct {
        const char* what;
        DWORD error;
        BOOL result; // of the fault: TRUE gives a handle with the error
        LONG opened;
    } cases[] = {
        {"no such device", ERROR_FILE_NOT_FOUND, FALSE, 0},
        {"held elsewhere", ERROR_SHARING_VIOLATION, FALSE, 0},
        {"access denied", ERROR_ACCESS_DENIED, FALSE, 0},
        {"invalid handle without an error", 0, FALSE, 0},
        // Only the handle tells whether the open worked.
        {"handle with a stray error", ERROR_ALREADY_EXISTS, TRUE, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        FakeDevice fake(FakeDriver{.faults = {{CallKind::CreateFile, 1, c.error, c.result}}});
        EXPECT_EQ(SER_OPEN(3, 9600), c.opened) << c.what;
        EXPECT_EQ(FindPortInSlot() != nullptr, c.opened == 1) << c.what;
        if (c.opened == 0) {
            EXPECT_EQ(fake.CallNames(), Names{"CreateFileW"}) << c.what;
        }
    }
}

TEST(OpenDevice, DiskFilesAreRefusedOtherTypesAccepted) {
    for (const DWORD type :
         {FILE_TYPE_DISK, FILE_TYPE_CHAR, FILE_TYPE_PIPE, FILE_TYPE_UNKNOWN, FILE_TYPE_REMOTE}) {
        FakeDevice fake(FakeDriver{.fileType = type});
        const bool disk = type == FILE_TYPE_DISK;
        EXPECT_EQ(SER_OPEN(5, 4800), disk ? 0 : 1) << type;
        ASSERT_EQ(fake.opened.size(), 1u);
        EXPECT_EQ(FindPortInSlot(), disk ? nullptr : fake.opened[0]);
        if (disk) {
            EXPECT_EQ(fake.CallNames(), (Names{"CreateFileW", "GetFileType", "CloseHandle"}));
            EXPECT_EQ(fake.calls[2].handle, fake.opened[0]);
        }
    }
}

// The settings in their order, and what each changes in the line state the
// driver reports. The driver here forgets every write, so each row shows
// its own change alone; the queue rows (nullptr) set the input, then the
// output queue.
constexpr const char* kSettings[] = {
    "BaudRate=19200",
    "fParity=0 ByteSize=8 Parity=0 StopBits=0",
    "fOutxCtsFlow=0",
    "fOutxDsrFlow=0",
    "fDsrSensitivity=0",
    "fDtrControl=0",
    "fDtrControl=0",
    "fNull=0",
    "fParity=0",
    "fErrorChar=0",
    "Parity=0",
    "fRtsControl=0",
    nullptr,
    "StopBits=0",
    nullptr,
    "fTXContinueOnXoff=0 fInX=0",
    "fTXContinueOnXoff=0 fOutX=0",
};

TEST(LineSettings, EachStepInOrderChangesOnlyItsMembers) {
    FakeDevice fake(FakeDriver{.keepsState = false, .inputQueue = 333, .outputQueue = 4444});
    ASSERT_EQ(SER_OPEN(2, 19200), 1);
    Names expected = {"CreateFileW", "GetFileType", "EscapeCommFunction"};
    for (const char* row : kSettings) {
        expected.push_back(row ? "GetCommState" : "GetCommProperties");
        expected.push_back(row ? "SetCommState" : "SetupComm");
    }
    ASSERT_EQ(fake.CallNames(), expected);
    EXPECT_EQ(fake.calls[2].function, DWORD(CLRBREAK));
    std::vector<std::pair<DWORD, DWORD>> queues;
    for (std::size_t i = 0; i < std::size(kSettings); ++i) {
        const DeviceCall& write = fake.calls[3 + 2 * i + 1];
        EXPECT_EQ(write.handle, fake.opened.at(0));
        if (kSettings[i]) {
            EXPECT_EQ(LineStateChanges(fake.driver.state, write.state), kSettings[i]) << i + 1;
        } else {
            queues.emplace_back(write.inputSize, write.outputSize);
        }
    }
    EXPECT_EQ(queues, (std::vector<std::pair<DWORD, DWORD>>{{1024, 4444}, {333, 1024}}));
}

// The configuration the line ends with; every member not named keeps the
// driver's value.
constexpr const char* kConfigured = "BaudRate=1200 fParity=0 fOutxCtsFlow=0 fOutxDsrFlow=0 "
                                    "fDtrControl=0 fDsrSensitivity=0 fTXContinueOnXoff=0 fOutX=0 "
                                    "fInX=0 fErrorChar=0 fNull=0 fRtsControl=0 ByteSize=8 Parity=0 "
                                    "StopBits=0";

std::string Without(std::string text, const std::string& member) {
    const std::size_t at = text.find(member);
    text.erase(at, text.find_first_of(" ", at) - at + 1);
    return text;
}

TEST(LineSettings, FailingStepIsLostAloneAndOpenSucceeds) {
    // clang-format off
    const struct {
        const char* what;
        std::vector<Fault> faults;
        std::string changes;
        std::size_t state_writes;
    } cases[] = {
        {"nothing fails", {}, kConfigured, 15},
        {"driver rejects the rate", {{CallKind::SetCommState, 1, ERROR_INVALID_PARAMETER, FALSE}},
         Without(kConfigured, "BaudRate="), 15},
        {"driver rejects CTS flow control off",
         {{CallKind::SetCommState, 3, ERROR_INVALID_PARAMETER, FALSE}},
         Without(kConfigured, "fOutxCtsFlow="), 15},
        {"driver rejects RTS off", {{CallKind::SetCommState, 12, ERROR_GEN_FAILURE, FALSE}},
         Without(kConfigured, "fRtsControl="), 15},
        {"state unreadable for XON/XOFF input",
         {{CallKind::GetCommState, 14, ERROR_GEN_FAILURE, FALSE}},
         Without(kConfigured, "fInX="), 14},
        {"state read leaves an error though it reports success",
         {{CallKind::GetCommState, 3, ERROR_GEN_FAILURE, TRUE}},
         Without(kConfigured, "fOutxCtsFlow="), 14},
        {"state read reports failure without an error", {{CallKind::GetCommState, 12, 0, FALSE}},
         Without(kConfigured, "fRtsControl="), 14},
        // Step 9 repeats what step 2 did, so losing it changes nothing.
        {"driver rejects parity checking off",
         {{CallKind::SetCommState, 9, ERROR_INVALID_PARAMETER, FALSE}}, kConfigured, 15},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = c.faults});
        EXPECT_EQ(SER_OPEN(4, 1200), 1);
        EXPECT_EQ(LineStateChanges(ForeignLineState(), fake.driver.state), c.changes);
        EXPECT_EQ(fake.CallsOf(CallKind::SetCommState).size(), c.state_writes);
        EXPECT_EQ(fake.CallsOf(CallKind::SetupComm).size(), 2u);
    }
}

TEST(LineSettings, QueueSettingsFollowWhatTheDriverReports) {
    constexpr Fault kNoProperties{CallKind::GetCommProperties, 1, ERROR_GEN_FAILURE, FALSE};
    // clang-format off
    const struct {
        const char* what;
        std::vector<Fault> faults;
        std::vector<std::pair<DWORD, DWORD>> setups;
    } cases[] = {
        {"both apply", {}, {{1024, 4096}, {1024, 1024}}},
        {"input queue rejected", {{CallKind::SetupComm, 1, ERROR_INVALID_PARAMETER, FALSE}},
         {{1024, 4096}, {2048, 1024}}},
        {"properties unreadable for the input queue", {kNoProperties}, {{2048, 1024}}},
        {"properties unreadable for both",
         {kNoProperties, {CallKind::GetCommProperties, 2, ERROR_GEN_FAILURE, FALSE}}, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = c.faults});
        EXPECT_EQ(SER_OPEN(6, 2400), 1);
        std::vector<std::pair<DWORD, DWORD>> setups;
        for (const DeviceCall& call : fake.CallsOf(CallKind::SetupComm)) {
            setups.emplace_back(call.inputSize, call.outputSize);
        }
        EXPECT_EQ(setups, c.setups);
        EXPECT_EQ(fake.CallsOf(CallKind::SetCommState).size(), 15u);
    }
}

UINT ErrorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

// Every device call is made under the device-call lock and never with the
// table lock, with the error boxes switched off and the last error cleared;
// the caller's error mode is given back afterwards.
TEST(DeviceCalls, GuardedAndGivenBackAroundEveryCall) {
    constexpr UINT kCallerMode = SEM_NOGPFAULTERRORBOX;
    constexpr UINT kDeviceMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    const auto open = [] { SER_OPEN(1, 9600); };
    // clang-format off
    const struct {
        const char* what;
        FakeDriver driver;
        bool open_first;
        std::function<void()> operation;
        std::size_t calls;
    } cases[] = {
        {"open", {}, false, open, 3 + 2 * 17},
        {"failed open", {.faults = {{CallKind::CreateFile, 1, ERROR_FILE_NOT_FOUND, FALSE}}}, false,
         open, 1},
        {"disk file", {.fileType = FILE_TYPE_DISK}, false, open, 3},
        {"send", {}, true, [] { BSTR text = Bytes("A<13>"); SER_SEND(&text); SysFreeString(text); },
         1},
        {"raw send", {}, true, [] { SER_RAWSEND_BV(Bytes("x")); }, 1},
        {"close", {}, true, [] { SER_CLOSE(); }, 1},
    };
    // clang-format on
    const UINT saved = SetErrorMode(kCallerMode);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(c.driver);
        if (c.open_first) {
            ASSERT_EQ(SER_OPEN(2, 9600), 1);
            fake.calls.clear();
        }
        SetLastError(ERROR_MORE_DATA);
        c.operation();
        EXPECT_EQ(ErrorMode(), kCallerMode) << "the caller's error mode is given back";
        EXPECT_EQ(fake.calls.size(), c.calls);
        for (std::size_t i = 0; i < fake.calls.size(); ++i) {
            const DeviceCall& call = fake.calls[i];
            SCOPED_TRACE(fake.CallNames()[i]);
            EXPECT_FALSE(call.tableLockHeld);
            // Clearing the break is the one call made as it stands.
            EXPECT_EQ(call.deviceCallLockHeld, call.kind != CallKind::EscapeComm);
            if (call.kind != CallKind::EscapeComm) {
                EXPECT_EQ(call.errorMode, kDeviceMode);
                EXPECT_EQ(call.lastError, 0u);
            }
        }
    }
    SetErrorMode(saved);
}

} // namespace
