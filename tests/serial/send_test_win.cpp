// The send operations: what reaches the port in one write, what becomes of
// the caller's string, and the version text.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace std::string_literals;

std::vector<std::string> Writes(const FakeDevice& fake) {
    std::vector<std::string> writes;
    for (const DeviceCall& call : fake.CallsOf(CallKind::WriteFile)) {
        EXPECT_TRUE(call.hasWrittenCount);
        EXPECT_FALSE(call.hasOverlapped);
        writes.push_back(call.bytes);
    }
    return writes;
}

struct OpenPort {
    FakeDevice fake;
    OpenPort(FakeDriver driver = {}) : fake(std::move(driver)) {
        EXPECT_EQ(SER_OPEN(1, 9600), 1);
        fake.calls.clear();
    }
};

enum class Op { Send, RawSend, SendByValue, RawSendByValue };

// A null text is a null string.
struct SendCase {
    Op op;
    std::optional<std::string> text;
    std::string written;
};

// clang-format off
const SendCase kSendCases[] = {
    {Op::Send, "A<13>", "A\r"}, {Op::Send, "<CLS>Hi<13>", "\x0CHi\r"},
    {Op::Send, "A\0B<66>"s, "A\0BB"s}, {Op::Send, "no tokens", "no tokens"}, {Op::Send, "", ""},
    {Op::Send, "\xFF<255>\x80", "\xFF\xFF\x80"}, {Op::Send, std::nullopt, ""},
    {Op::RawSend, "A<13>", "A<13>"}, {Op::RawSend, "\0\0<0>"s, "\0\0<0>"s}, {Op::RawSend, "", ""},
    {Op::RawSend, std::string(5000, 'x'), std::string(5000, 'x')}, {Op::RawSend, std::nullopt, ""},
    {Op::SendByValue, "A<13>", "A\r"}, {Op::SendByValue, "<60>12>", "\x0C"},
    {Op::SendByValue, "a<>b", "a<>b"}, {Op::SendByValue, "", ""},
    {Op::SendByValue, std::nullopt, ""}, {Op::RawSendByValue, "A<13>", "A<13>"},
    {Op::RawSendByValue, "<60>12>", "<60>12>"}, {Op::RawSendByValue, "", ""},
    {Op::RawSendByValue, std::nullopt, ""},
};
// clang-format on

// Each send makes one write of all its bytes. SER_SEND puts a new string, the
// translation, into the caller's variable; SER_RAWSEND leaves it alone.
TEST(Send, WritesOnceAndLeavesTheVariableAsDocumented) {
    for (const SendCase& c : kSendCases) {
        SCOPED_TRACE(::testing::Message()
                     << "op " << static_cast<int>(c.op) << " text " << c.text.value_or("(null)"));
        OpenPort port;
        BSTR variable = Bytes(c.text);
        const BSTR before = variable;
        switch (c.op) {
        case Op::Send:
            SER_SEND(&variable);
            ASSERT_NE(variable, before) << "a new string replaces the caller's";
            EXPECT_EQ(Text(variable), c.written);
            EXPECT_EQ(reinterpret_cast<const char*>(variable)[c.written.size()], '\0');
            break;
        case Op::RawSend:
            SER_RAWSEND(&variable);
            EXPECT_EQ(variable, before);
            EXPECT_EQ(Text(variable), c.text.value_or(""));
            break;
        case Op::SendByValue:
            SER_SEND_BV(variable);
            variable = nullptr;
            break;
        case Op::RawSendByValue:
            SER_RAWSEND_BV(variable);
            variable = nullptr;
            break;
        }
        EXPECT_EQ(Writes(port.fake), std::vector<std::string>{c.written});
        SysFreeString(variable);
    }
}

TEST(SerSend, SecondSendTranslatesTheTranslationAgain) {
    OpenPort port;
    BSTR variable = Bytes("<<49>3>");
    SER_SEND(&variable);
    EXPECT_EQ(Text(variable), "<13>");
    SER_SEND(&variable);
    EXPECT_EQ(Text(variable), "\r");
    EXPECT_EQ(Writes(port.fake), (std::vector<std::string>{"<13>", "\r"}));
    SysFreeString(variable);
}

TEST(Send, NoPortInTheSlotWritesNothingButStillTranslates) {
    FakeDevice fake;
    // clang-format off
    const struct {
        const char* what;
        void (*before)();
    } cases[] = {
        {"after a close", [] { SER_OPEN(1, 9600); SER_CLOSE(); }},
        {"after a refused open", [] { SER_OPEN(0, 9600); }},
        {"after a failed open", [] {
             FakeDevice::Active().driver.faults = {
                 {CallKind::CreateFile, 2, ERROR_FILE_NOT_FOUND, FALSE}};
             SER_OPEN(1, 9600); }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        fake.calls.clear();
        BSTR variable = Bytes("A<13>");
        SER_SEND(&variable);
        EXPECT_EQ(Text(variable), "A\r");
        SER_RAWSEND(&variable);
        SER_SEND_BV(Bytes("x<13>"));
        SER_RAWSEND_BV(Bytes("x"));
        EXPECT_TRUE(fake.calls.empty());
        SysFreeString(variable);
    }
}

TEST(Send, NullVariableAddressDoesNothing) {
    OpenPort port;
    SER_SEND(nullptr);
    SER_RAWSEND(nullptr);
    EXPECT_TRUE(port.fake.calls.empty());
}

TEST(Send, FailedOrShortWriteIsNotRetried) {
    const struct {
        const char* what;
        FakeDriver driver;
    } cases[] = {
        {"failed", {.faults = {{CallKind::WriteFile, 1, ERROR_GEN_FAILURE, FALSE}}}},
        {"short", {.writeLimit = 2}},
        {"nothing taken", {.writeLimit = 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OpenPort port(c.driver);
        BSTR variable = Bytes("Hello");
        SER_RAWSEND(&variable);
        EXPECT_EQ(Writes(port.fake), std::vector<std::string>{"Hello"});
        SysFreeString(variable);
    }
}

// A string whose count says more than memory can hold: the scratch copy
// cannot be had, so the caller's variable stays as it is and nothing goes
// out. The count is all that is read. A 64-bit process can be given the
// 4 GiB such a count asks for (the count is 32 bits), so there the copy
// would go on to read the whole count: the case cannot be made that way.
TEST(SerSend, OutOfMemoryLeavesTheVariableAndWritesNothing) {
    if (sizeof(void*) == 8) {
        GTEST_SKIP() << "a 32-bit count cannot exhaust a 64-bit address space";
    }
    OpenPort port;
    alignas(4) unsigned char storage[16] = {};
    const std::uint32_t count = 0xFFFFFFF0u;
    std::memcpy(storage, &count, sizeof count);
    std::memcpy(storage + 4, "A<13>", 5);
    BSTR huge = reinterpret_cast<BSTR>(storage + 4);
    BSTR variable = huge;
    SER_SEND(&variable);
    EXPECT_EQ(variable, huge);
    EXPECT_EQ(std::memcmp(storage + 4, "A<13>", 5), 0);
    EXPECT_TRUE(port.fake.calls.empty());
}

TEST(SerVersinfo, ReturnsTheVersionTextAsANewByteString) {
    BSTR first = SER_VERSINFO();
    BSTR second = SER_VERSINFO();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second) << "each caller owns its own string";
    EXPECT_EQ(Text(first), "v1.3, 22 Oct 2012, https://wendle.example.org");
    EXPECT_EQ(Text(second), Text(first));
    SysFreeString(first);
    SysFreeString(second);
}

} // namespace
