// The port slot and the number draw: what moves the slot, what each refusal
// leaves behind, and which port a close reaches.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

TEST(PortSlot, EveryOpenDrawsTheNextNumberBeforeAnyCheck) {
    const struct {
        LONG port, baud, result;
    } cases[] = {
        {0, 9600, 0},   {100, 9600, 0}, {LONG_MIN, 9600, 0}, {1, 9601, 0},  {1, 300, 0},
        {1, 115200, 0}, {99, 38400, 1}, {1, 1200, 1},        {50, 2400, 1},
    };
    for (const auto& c : cases) {
        FakeDevice fake;
        const std::int32_t before = PortSlot.load();
        EXPECT_EQ(SER_OPEN(c.port, c.baud), c.result) << c.port << " " << c.baud;
        EXPECT_EQ(PortSlot.load(), before == 32767 ? 1 : before + 1);
        EXPECT_EQ(FindPortInSlot() != nullptr, c.result == 1);
        EXPECT_EQ(fake.calls.empty(), c.result == 0) << "a refused open touches no device";
    }
}

TEST(PortSlot, DrawWrapsAt32767AndSkipsNumbersInUse) {
    const struct {
        const char* what;
        std::int32_t counter;
        std::vector<std::int32_t> inUse;
        std::int32_t next;
    } cases[] = {
        {"wraps past 1 in use", 32767, {1}, 2},
        {"skips a run", 4, {5, 6, 7}, 8},
        {"skips 32767 and wraps", 32766, {32767, 1}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake;
        for (int i = 0; i < 32767 && PortSlot.load() != c.counter; ++i) {
            SER_OPEN(0, 9600);
        }
        ASSERT_EQ(PortSlot.load(), c.counter);
        for (std::int32_t number : c.inUse) {
            ASSERT_NE(AddPort(number, PortHandle{fake.NextHandle()}), nullptr);
        }
        SER_OPEN(0, 9600);
        EXPECT_EQ(PortSlot.load(), c.next);
    }
}

TEST(PortSlot, FullTableRefusesTheOpen) {
    FakeDevice fake;
    for (std::int32_t number = 1; number <= 32767; ++number) {
        if (!PortNumberInUse(number)) {
            ASSERT_NE(AddPort(number, PortHandle{fake.NextHandle()}), nullptr);
        }
    }
    EXPECT_EQ(SER_OPEN(1, 9600), 0);
    EXPECT_EQ(PortSlot.load(), 0);
    EXPECT_TRUE(fake.calls.empty());
}

// A handle the table refuses is closed, not leaked.
TEST(PortSlot, TableRefusesTakenAndOutOfRangeNumbers) {
    FakeDevice fake;
    HANDLE first = fake.NextHandle();
    ASSERT_EQ(AddPort(5000, PortHandle{first}), first);
    for (std::int32_t number : {5000, 0, 32768}) {
        HANDLE refused = fake.NextHandle();
        EXPECT_EQ(AddPort(number, PortHandle{refused}), nullptr) << number;
        ASSERT_FALSE(fake.calls.empty());
        EXPECT_EQ(fake.calls.back().handle, refused) << number;
    }
    EXPECT_EQ(FindPort(5000), first);
}

TEST(PortClose, ClosesOnlyThePortInTheSlotEvenWhenTheCloseFails) {
    FakeDevice fake(
        FakeDriver{.faults = {{CallKind::CloseHandle, 1, ERROR_INVALID_HANDLE, FALSE}}});
    EXPECT_EQ(SER_CLOSE(), 1) << "nothing open";
    ASSERT_EQ(SER_OPEN(3, 9600), 1);
    const std::int32_t first = PortSlot.load();
    ASSERT_EQ(SER_OPEN(4, 9600), 1);
    const std::int32_t second = PortSlot.load();

    fake.calls.clear();
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(SER_CLOSE(), 1);
    ASSERT_EQ(fake.Texts(), std::vector<std::string>{"CloseHandle"})
        << "a second close does nothing";
    EXPECT_EQ(fake.calls[0].handle, fake.opened.at(1));
    EXPECT_EQ(PortSlot.load(), second) << "closing leaves the slot's number";
    EXPECT_EQ(FindPort(second), nullptr);
    EXPECT_EQ(FindPort(first), fake.opened.at(0)) << "the first port stays open, out of reach";
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
