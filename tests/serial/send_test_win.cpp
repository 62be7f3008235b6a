// The send operations: what reaches the port in one write, what becomes of
// the caller's string, and the version text.
#include "fake_device.h"

#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace std::string_literals;
using Texts = std::vector<std::string>;

struct OpenPort {
    FakeDevice fake;
    explicit OpenPort(FakeDriver driver = {}) : fake(std::move(driver)) {
        EXPECT_EQ(SER_OPEN(1, 9600), 1);
        fake.calls.clear();
    }
};

enum class Op { Send, RawSend, SendByValue, RawSendByValue };

// Each send makes one write of all its bytes (a null string is an empty
// one). SER_SEND puts a new string, the translation, into the caller's
// variable; SER_RAWSEND leaves it alone.
TEST(Send, WritesOnceAndLeavesTheVariableAsDocumented) {
    // clang-format off
    const struct {
        Op op;
        std::optional<std::string> text;
        std::string written;
    } cases[] = {
        {Op::Send, "A\0B<66><13>"s, "A\0BB\r"s}, {Op::Send, "\xFF<255>", "\xFF\xFF"},
        {Op::Send, "", ""}, {Op::Send, std::nullopt, ""},
        {Op::RawSend, "\0<0>"s, "\0<0>"s}, {Op::RawSend, std::nullopt, ""},
        {Op::SendByValue, "<60>12>", "\x0C"}, {Op::SendByValue, std::nullopt, ""},
        {Op::RawSendByValue, "<60>\0"s, "<60>\0"s}, {Op::RawSendByValue, std::nullopt, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
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
            break;
        case Op::SendByValue:
            SER_SEND_BV(std::exchange(variable, nullptr));
            break;
        case Op::RawSendByValue:
            SER_RAWSEND_BV(std::exchange(variable, nullptr));
            break;
        }
        EXPECT_EQ(port.fake.Texts(), Texts{"WriteFile " + c.written});
        SysFreeString(variable);
    }
}

// A port that was open no longer is, or the slot has moved on: the sends
// write nothing, and SER_SEND still translates.
TEST(Send, NoPortInTheSlotWritesNothing) {
    // clang-format off
    const struct {
        const char* what;
        void (*after_open)();
    } cases[] = {
        {"closed", [] { SER_CLOSE(); }},
        {"refused open", [] { SER_OPEN(0, 9600); }},
        {"failed open", [] { SER_OPEN(1, 9600); }}, // the driver fails the second open
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OpenPort port(
            FakeDriver{.faults = {{CallKind::CreateFile, 2, ERROR_FILE_NOT_FOUND, FALSE}}});
        c.after_open();
        port.fake.calls.clear();
        BSTR variable = Bytes("A<13>");
        SER_SEND(&variable);
        EXPECT_EQ(Text(variable), "A\r");
        SER_RAWSEND(&variable);
        SER_SEND_BV(Bytes("x<13>"));
        SER_RAWSEND_BV(Bytes("x"));
        EXPECT_EQ(port.fake.Texts(), Texts{});
        SysFreeString(variable);
    }
}

TEST(Send, NullVariableAddressDoesNothing) {
    OpenPort port;
    SER_SEND(nullptr);
    SER_RAWSEND(nullptr);
    EXPECT_EQ(port.fake.Texts(), Texts{});
}

TEST(Send, FailedOrShortWriteIsNotRetried) {
    // A write that fails, and one that takes two bytes of five (the fault's
    // occurrence 0 is never reached).
    for (const int failing : {1, 0}) {
        OpenPort port(FakeDriver{
            .writeLimit = 2, .faults = {{CallKind::WriteFile, failing, ERROR_GEN_FAILURE, FALSE}}});
        SER_RAWSEND_BV(Bytes("Hello"));
        EXPECT_EQ(port.fake.Texts(), Texts{"WriteFile Hello"});
    }
}

// A string whose count says more than memory can hold: the scratch copy
// cannot be had, so the caller's variable stays as it is and nothing goes
// out. Only the count is read. A 64-bit process can be given the 4 GiB such
// a 32-bit count asks for, and would then read it all: 32-bit builds only.
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
    EXPECT_EQ(port.fake.Texts(), Texts{});
}

TEST(SerVersinfo, ReturnsTheVersionTextAsANewByteString) {
    BSTR first = SER_VERSINFO();
    BSTR second = SER_VERSINFO();
    EXPECT_NE(first, second) << "each caller owns its own string";
    EXPECT_EQ(Text(first), "v1.3, 22 Oct 2012, https://wendle.example.org");
    EXPECT_EQ(Text(second), Text(first));
    SysFreeString(first);
    SysFreeString(second);
}

} // namespace
