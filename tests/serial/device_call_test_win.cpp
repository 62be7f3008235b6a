// How every device call is made: under the device-call lock and never with
// the table lock, with the error boxes switched off and the last error
// cleared, and the caller's error mode given back afterwards.
#include "fake_device.h"

#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr UINT kCallerMode = SEM_NOGPFAULTERRORBOX;
constexpr UINT kDeviceMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

UINT ErrorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

struct ErrorModeScope {
    UINT saved = SetErrorMode(kCallerMode);
    ~ErrorModeScope() { SetErrorMode(saved); }
};

BSTR Bytes(const char* text) {
    return SysAllocStringByteLen(text, static_cast<UINT>(std::char_traits<char>::length(text)));
}

TEST(DeviceCalls, GuardedAndGivenBackAroundEveryCall) {
    const struct {
        const char* what;
        FakeDriver driver;
        bool openFirst;
        std::function<void()> operation;
        std::size_t calls;
    } cases[] = {
        {"open", {}, false, [] { SER_OPEN(1, 9600); }, 3 + 2 * 17},
        {"failed open",
         {.faults = {{CallKind::CreateFile, 1, ERROR_FILE_NOT_FOUND, FALSE}}},
         false,
         [] { SER_OPEN(1, 9600); },
         1},
        {"disk file", {.fileType = FILE_TYPE_DISK}, false, [] { SER_OPEN(1, 9600); }, 3},
        {"send",
         {},
         true,
         [] {
             BSTR text = Bytes("A<13>");
             SER_SEND(&text);
             SysFreeString(text);
         },
         1},
        {"raw send", {}, true, [] { SER_RAWSEND_BV(Bytes("x")); }, 1},
        {"close", {}, true, [] { SER_CLOSE(); }, 1},
    };
    ErrorModeScope caller_mode;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake(c.driver);
        if (c.openFirst) {
            ASSERT_EQ(SER_OPEN(2, 9600), 1);
            fake.ForgetCalls();
        }
        SetLastError(ERROR_MORE_DATA);
        c.operation();
        EXPECT_EQ(ErrorMode(), kCallerMode) << "the caller's error mode is given back";
        const std::vector<DeviceCall> calls = fake.Calls();
        EXPECT_EQ(calls.size(), c.calls);
        for (const DeviceCall& call : calls) {
            SCOPED_TRACE(CallName(call.kind));
            EXPECT_FALSE(call.context.tableLockHeld);
            if (call.kind == CallKind::EscapeComm) {
                EXPECT_FALSE(call.context.deviceCallLockHeld);
                continue;
            }
            EXPECT_TRUE(call.context.deviceCallLockHeld);
            EXPECT_EQ(call.context.errorMode, kDeviceMode);
            EXPECT_EQ(call.context.lastError, 0u);
        }
    }
}

} // namespace
