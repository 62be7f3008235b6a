// The port slot and the number draw: what moves the slot, what each refusal
// leaves behind, and which port a close reaches.
#include "fake_device.h"

#include "serial/port_table.h"
#include "serial/wendle.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

std::int32_t After(std::int32_t number) {
    return number == kHighestPortNumber ? 1 : number + 1;
}

// Moves the draw counter with refused opens until the slot holds `number`.
void DrawUpTo(std::int32_t number) {
    while (PortSlot.load() != number) {
        SER_OPEN(0, 9600);
    }
}

TEST(PortSlot, EveryOpenDrawsTheNextNumberBeforeAnyCheck) {
    const struct {
        LONG port, baud, result;
    } cases[] = {
        {0, 9600, 0},   {100, 9600, 0}, {-1, 9600, 0}, {LONG_MIN, 9600, 0}, {LONG_MAX, 9600, 0},
        {1, 9601, 0},   {1, 300, 0},    {1, 0, 0},     {1, -9600, 0},       {0, 9601, 0},
        {1, 115200, 0}, {99, 38400, 1}, {1, 1200, 1},
    };
    for (const auto& c : cases) {
        FakeDevice fake;
        const std::int32_t before = PortSlot.load();
        EXPECT_EQ(SER_OPEN(c.port, c.baud), c.result) << c.port << " " << c.baud;
        EXPECT_EQ(PortSlot.load(), After(before)) << c.port << " " << c.baud;
        EXPECT_EQ(FindPortInSlot() != nullptr, c.result == 1);
        if (c.result == 0) {
            EXPECT_TRUE(fake.calls.empty()) << "a refused open touches no device";
        }
    }
}

TEST(PortSlot, DrawWrapsAt32768AndSkipsNumbersInUse) {
    const struct {
        const char* what;
        std::int32_t counter;
        std::vector<std::int32_t> inUse;
        std::int32_t next;
    } cases[] = {
        {"wraps", kHighestPortNumber, {}, 1},
        {"wraps past 1 in use", kHighestPortNumber, {1}, 2},
        {"skips a run", 4, {5, 6, 7}, 8},
        {"skips 32767 and wraps", 32766, {32767, 1}, 2},
        {"a number below is no obstacle", 10, {10, 9}, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice fake;
        DrawUpTo(c.counter);
        for (std::int32_t number : c.inUse) {
            ASSERT_NE(AddPort(number, PortHandle{fake.NextHandle()}), nullptr);
        }
        SER_OPEN(0, 9600);
        EXPECT_EQ(PortSlot.load(), c.next);
    }
}

TEST(PortSlot, FullTableRefusesTheOpen) {
    FakeDevice fake;
    for (std::int32_t number = 1; number <= kHighestPortNumber; ++number) {
        if (!PortNumberInUse(number)) {
            ASSERT_NE(AddPort(number, PortHandle{fake.NextHandle()}), nullptr);
        }
    }
    fake.calls.clear();
    EXPECT_EQ(SER_OPEN(1, 9600), 0);
    EXPECT_EQ(PortSlot.load(), 0);
    EXPECT_TRUE(fake.CallsOf(CallKind::CreateFile).empty());
}

TEST(PortSlot, TableRefusesTakenAndOutOfRangeNumbers) {
    FakeDevice fake;
    SER_OPEN(0, 9600);
    const std::int32_t free = PortSlot.load();
    HANDLE first = fake.NextHandle();
    ASSERT_EQ(AddPort(free, PortHandle{first}), first);
    for (std::int32_t number : {free, 0, -1, kHighestPortNumber + 1}) {
        HANDLE refused = fake.NextHandle();
        EXPECT_EQ(AddPort(number, PortHandle{refused}), nullptr) << number;
        ASSERT_FALSE(fake.CallsOf(CallKind::CloseHandle).empty());
        EXPECT_EQ(fake.CallsOf(CallKind::CloseHandle).back().handle, refused)
            << "a refused handle is closed";
    }
    EXPECT_EQ(FindPort(free), first);
}

TEST(PortClose, ClosesOnlyThePortInTheSlot) {
    FakeDevice fake;
    EXPECT_EQ(SER_CLOSE(), 1) << "nothing open";

    ASSERT_EQ(SER_OPEN(3, 9600), 1);
    const std::int32_t first = PortSlot.load();
    ASSERT_EQ(SER_OPEN(4, 9600), 1);
    const std::int32_t second = PortSlot.load();
    const std::vector<HANDLE> opened = fake.opened;
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(FindPort(first), opened[0]) << "the first port stays open, out of reach";

    fake.calls.clear();
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(PortSlot.load(), second) << "closing leaves the slot's number";
    ASSERT_EQ(fake.CallNames(), std::vector<std::string>{"CloseHandle"});
    EXPECT_EQ(fake.calls[0].handle, opened[1]);
    EXPECT_EQ(FindPort(second), nullptr);
    EXPECT_EQ(FindPort(first), opened[0]);

    EXPECT_EQ(SER_CLOSE(), 1) << "second close";
    EXPECT_EQ(fake.calls.size(), 1u) << "a second close does nothing";
}

TEST(PortClose, FailingCloseStillRemovesThePort) {
    FakeDevice fake(
        FakeDriver{.faults = {{CallKind::CloseHandle, 1, ERROR_INVALID_HANDLE, FALSE}}});
    ASSERT_EQ(SER_OPEN(8, 9600), 1);
    EXPECT_EQ(SER_CLOSE(), 1);
    EXPECT_EQ(FindPortInSlot(), nullptr);
}

constexpr int kDrawsPerThread = 100000;

DWORD WINAPI DrawMany(void* start) {
    WaitForSingleObject(start, INFINITE);
    for (int i = 0; i < kDrawsPerThread; ++i) {
        SER_OPEN(0, 9600);
    }
    return 0;
}

// Four threads draw at once, many times over: a draw that is not atomic
// loses numbers, and the slot then ends short of where the count says.
TEST(PortSlot, ConcurrentDrawsLoseNoNumber) {
    FakeDevice fake;
    for (int round = 0; round < 20; ++round) {
        const std::int32_t start = PortSlot.load();
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE threads[4];
        for (HANDLE& thread : threads) {
            thread = CreateThread(nullptr, 0, &DrawMany, go, 0, nullptr);
            ASSERT_NE(thread, nullptr);
        }
        SetEvent(go);
        WaitForMultipleObjects(4, threads, TRUE, INFINITE);
        for (HANDLE thread : threads) {
            CloseHandle(thread);
        }
        CloseHandle(go);
        SER_OPEN(0, 9600);
        const std::int32_t draws = 4 * kDrawsPerThread + 1;
        ASSERT_EQ(PortSlot.load(), (start - 1 + draws) % kHighestPortNumber + 1)
            << "round " << round;
    }
}

} // namespace
