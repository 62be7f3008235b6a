// Opening a port: the device name and open arguments, the file-type check,
// and the seventeen line settings with what each one changes.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::vector<std::string> CallNames(const std::vector<DeviceCall>& calls) {
    std::vector<std::string> names;
    for (const DeviceCall& call : calls) {
        names.push_back(CallName(call.kind));
    }
    return names;
}

TEST(OpenDevice, NameAndOpenArguments) {
    const struct {
        LONG port;
        const char* name;
    } cases[] = {
        {1, "COM1"},          {7, "COM7"},          {9, "COM9"},
        {10, R"(\\.\COM10)"}, {12, R"(\\.\COM12)"}, {99, R"(\\.\COM99)"},
    };
    for (const auto& c : cases) {
        FakeDevice fake;
        ASSERT_EQ(SER_OPEN(c.port, 9600), 1) << c.port;
        const std::vector<DeviceCall> opens = fake.CallsOf(CallKind::CreateFile);
        ASSERT_EQ(opens.size(), 1u);
        const DeviceCall& open = opens[0];
        EXPECT_EQ(Narrow(open.name), c.name);
        EXPECT_EQ(open.access, DWORD(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(open.share, 0u);
        ASSERT_TRUE(open.hasSecurity);
        EXPECT_EQ(open.security.nLength, 12u);
        EXPECT_EQ(open.security.lpSecurityDescriptor, nullptr);
        EXPECT_EQ(open.security.bInheritHandle, TRUE);
        EXPECT_EQ(open.disposition, DWORD(OPEN_EXISTING));
        EXPECT_EQ(open.flags, DWORD(FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(open.templateFile, nullptr);
        SER_CLOSE();
    }
}

TEST(OpenDevice, FailedOpenLeavesNothingOpen) {
    const struct {
        const char* what;
        Fault fault;
        LONG result;
    } cases[] = {
        {"no such device", {CallKind::CreateFile, 1, ERROR_FILE_NOT_FOUND, FALSE}, 0},
        {"held elsewhere", {CallKind::CreateFile, 1, ERROR_SHARING_VIOLATION, FALSE}, 0},
        {"access denied", {CallKind::CreateFile, 1, ERROR_ACCESS_DENIED, FALSE}, 0},
        {"invalid handle without an error", {CallKind::CreateFile, 1, 0, FALSE}, 0},
        // Only the handle tells whether the open worked.
        {"handle with a stray error", {CallKind::CreateFile, 1, ERROR_ALREADY_EXISTS, TRUE}, 1},
    };
    for (const auto& c : cases) {
        FakeDevice fake(FakeDriver{.faults = {c.fault}});
        EXPECT_EQ(SER_OPEN(3, 9600), c.result) << c.what;
        EXPECT_EQ(FindPortInSlot() != nullptr, c.result == 1) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(CallNames(fake.Calls()), std::vector<std::string>{"CreateFileW"}) << c.what;
        }
    }
}

TEST(OpenDevice, DiskFilesAreRefusedOtherTypesAccepted) {
    const struct {
        DWORD type;
        LONG result;
    } cases[] = {
        {FILE_TYPE_DISK, 0},    {FILE_TYPE_CHAR, 1},   {FILE_TYPE_PIPE, 1},
        {FILE_TYPE_UNKNOWN, 1}, {FILE_TYPE_REMOTE, 1},
    };
    for (const auto& c : cases) {
        FakeDevice fake(FakeDriver{.fileType = c.type});
        EXPECT_EQ(SER_OPEN(5, 4800), c.result) << c.type;
        const std::vector<HANDLE> opened = fake.Opened();
        ASSERT_EQ(opened.size(), 1u);
        if (c.result == 0) {
            EXPECT_EQ(CallNames(fake.Calls()),
                      (std::vector<std::string>{"CreateFileW", "GetFileType", "CloseHandle"}));
            EXPECT_EQ(fake.CallsOf(CallKind::CloseHandle)[0].handle, opened[0]);
            EXPECT_EQ(FindPortInSlot(), nullptr);
        } else {
            EXPECT_EQ(FindPortInSlot(), opened[0]);
        }
    }
}

// The settings in their order, and what each changes in the line state the
// driver reports. The driver here forgets every write, so each row shows
// its own change alone.
enum class Step { State, InputQueue, OutputQueue };
struct SettingRow {
    Step step;
    const char* changes;
};
constexpr SettingRow kSettings[] = {
    {Step::State, "BaudRate=19200"},
    {Step::State, "fParity=0 ByteSize=8 Parity=0 StopBits=0"},
    {Step::State, "fOutxCtsFlow=0"},
    {Step::State, "fOutxDsrFlow=0"},
    {Step::State, "fDsrSensitivity=0"},
    {Step::State, "fDtrControl=0"},
    {Step::State, "fDtrControl=0"},
    {Step::State, "fNull=0"},
    {Step::State, "fParity=0"},
    {Step::State, "fErrorChar=0"},
    {Step::State, "Parity=0"},
    {Step::State, "fRtsControl=0"},
    {Step::InputQueue, nullptr},
    {Step::State, "StopBits=0"},
    {Step::OutputQueue, nullptr},
    {Step::State, "fTXContinueOnXoff=0 fInX=0"},
    {Step::State, "fTXContinueOnXoff=0 fOutX=0"},
};

TEST(LineSettings, EachStepInOrderChangesOnlyItsMembers) {
    FakeDevice fake(FakeDriver{.keepsState = false, .inputQueue = 333, .outputQueue = 4444});
    ASSERT_EQ(SER_OPEN(2, 19200), 1);
    const std::vector<DeviceCall> calls = fake.Calls();
    const HANDLE port = fake.Opened().at(0);

    std::vector<std::string> expected = {"CreateFileW", "GetFileType", "EscapeCommFunction"};
    for (const SettingRow& row : kSettings) {
        const bool state = row.step == Step::State;
        expected.push_back(state ? "GetCommState" : "GetCommProperties");
        expected.push_back(state ? "SetCommState" : "SetupComm");
    }
    ASSERT_EQ(CallNames(calls), expected);
    EXPECT_EQ(calls[2].function, DWORD(CLRBREAK));

    for (std::size_t i = 0; i < std::size(kSettings); ++i) {
        const SettingRow& row = kSettings[i];
        const DeviceCall& write = calls[3 + 2 * i + 1];
        SCOPED_TRACE("setting " + std::to_string(i + 1));
        EXPECT_EQ(write.handle, port);
        if (row.step == Step::State) {
            EXPECT_EQ(LineStateChanges(fake.Driver().state, write.state), row.changes);
        } else if (row.step == Step::InputQueue) {
            EXPECT_EQ(write.inputSize, 1024u);
            EXPECT_EQ(write.outputSize, 4444u);
        } else {
            EXPECT_EQ(write.inputSize, 333u);
            EXPECT_EQ(write.outputSize, 1024u);
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
    const std::size_t at = text.find(member);
    text.erase(at, text.find_first_of(" ", at) - at + 1);
    return text;
}

TEST(LineSettings, FailingStepIsLostAloneAndOpenSucceeds) {
    const struct {
        const char* what;
        std::vector<Fault> faults;
        std::string changes;
        std::size_t stateWrites;
    } cases[] = {
        {"nothing fails", {}, kConfigured, 15},
        {"driver rejects the rate",
         {{CallKind::SetCommState, 1, ERROR_INVALID_PARAMETER, FALSE}},
         Without(kConfigured, "BaudRate="),
         15},
        {"driver rejects CTS flow control off",
         {{CallKind::SetCommState, 3, ERROR_INVALID_PARAMETER, FALSE}},
         Without(kConfigured, "fOutxCtsFlow="),
         15},
        {"driver rejects RTS off",
         {{CallKind::SetCommState, 12, ERROR_GEN_FAILURE, FALSE}},
         Without(kConfigured, "fRtsControl="),
         15},
        {"state unreadable for XON/XOFF input",
         {{CallKind::GetCommState, 14, ERROR_GEN_FAILURE, FALSE}},
         Without(kConfigured, "fInX="),
         14},
        {"state read leaves an error though it reports success",
         {{CallKind::GetCommState, 3, ERROR_GEN_FAILURE, TRUE}},
         Without(kConfigured, "fOutxCtsFlow="),
         14},
        {"state read reports failure without an error",
         {{CallKind::GetCommState, 12, 0, FALSE}},
         Without(kConfigured, "fRtsControl="),
         14},
        // Step 9 repeats what step 2 did, so losing it changes nothing.
        {"driver rejects parity checking off",
         {{CallKind::SetCommState, 9, ERROR_INVALID_PARAMETER, FALSE}},
         kConfigured,
         15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(FakeDriver{.faults = c.faults});
        EXPECT_EQ(SER_OPEN(4, 1200), 1);
        EXPECT_EQ(LineStateChanges(ForeignLineState(), fake.Driver().state), c.changes);
        EXPECT_EQ(fake.CallsOf(CallKind::SetCommState).size(), c.stateWrites);
        EXPECT_EQ(fake.CallsOf(CallKind::SetupComm).size(), 2u);
    }
}

TEST(LineSettings, QueueSettingsFollowWhatTheDriverReports) {
    const struct {
        const char* what;
        std::vector<Fault> faults;
        std::vector<std::pair<DWORD, DWORD>> setups;
    } cases[] = {
        {"both apply", {}, {{1024, 4096}, {1024, 1024}}},
        {"input queue rejected",
         {{CallKind::SetupComm, 1, ERROR_INVALID_PARAMETER, FALSE}},
         {{1024, 4096}, {2048, 1024}}},
        {"properties unreadable for the input queue",
         {{CallKind::GetCommProperties, 1, ERROR_GEN_FAILURE, FALSE}},
         {{2048, 1024}}},
        {"properties unreadable for both",
         {{CallKind::GetCommProperties, 1, ERROR_GEN_FAILURE, FALSE},
          {CallKind::GetCommProperties, 2, ERROR_GEN_FAILURE, FALSE}},
         {}},
    };
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

} // namespace
