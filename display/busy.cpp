#include "display/busy.h"

namespace {

// The HD44780U datasheet (Hitachi, ADE-207-272), Table 6, execution times at
// fosc = 270 kHz: return home 1.52 ms, every other instruction and a data
// write 37 us. The table gives no time for clear display; 1.52 ms, as for
// return home, is what drivers and other datasheets take (real parts have
// been measured at 1.6 to 2.4 ms, which --osc can model).
constexpr std::uint32_t kSlow = 1'520'000;
constexpr std::uint32_t kShort = 37'000;

} // namespace

constexpr BusyRow BusyTable[kWorkCount] = {
    {Work::kNothing, "nothing", "nothing", 0},
    {Work::kClearDisplay, "clear display", "clear", kSlow},
    {Work::kReturnHome, "return home", "return home", kSlow},
    {Work::kEntryModeSet, "entry mode set", "entry mode set", kShort},
    {Work::kDisplayControl, "display control", "display control", kShort},
    {Work::kCursorShift, "cursor or display shift", "shift", kShort},
    {Work::kFunctionSet, "function set", "function set", kShort},
    {Work::kSetCgramAddress, "set CGRAM address", "set CGRAM address", kShort},
    {Work::kSetDdramAddress, "set DDRAM address", "set DDRAM address", kShort},
    {Work::kDataWrite, "data write", "data write", kShort},
    // The model moves back, blanks the cell and leaves the counter on it: a
    // module does that with an address, a write (which moves the counter on)
    // and the address again, and waits for each itself.
    {Work::kBackspace, "backspace (set DDRAM address, data write, set DDRAM address)", "backspace",
     3 * kShort},
};

namespace {

constexpr bool RowsAreInOrder() {
    for (std::size_t i = 0; i < kWorkCount; ++i) {
        if (static_cast<std::size_t>(BusyTable[i].work) != i || BusyTable[i].name.empty() ||
            (BusyTable[i].nanoseconds == 0) != (BusyTable[i].work == Work::kNothing)) {
            return false;
        }
    }
    return true;
}
static_assert(RowsAreInOrder());
static_assert(BusyTable[static_cast<int>(Work::kBackspace)].nanoseconds ==
              2 * BusyTable[static_cast<int>(Work::kSetDdramAddress)].nanoseconds +
                  BusyTable[static_cast<int>(Work::kDataWrite)].nanoseconds);
static_assert(InstructionWork(0x01) == Work::kClearDisplay &&
              InstructionWork(0x03) == Work::kReturnHome &&
              InstructionWork(0xC0) == Work::kSetDdramAddress &&
              InstructionWork(0x7F) == Work::kSetCgramAddress &&
              InstructionWork(0x00) == Work::kNothing);
// The slowest row at the slowest oscillator fits the type.
static_assert(std::uint64_t{3 * kShort} * kNominalOscillatorKhz / kMinOscillatorKhz <= UINT32_MAX &&
              std::uint64_t{kSlow} * kNominalOscillatorKhz / kMinOscillatorKhz <= UINT32_MAX);

} // namespace

std::uint32_t BusyNanoseconds(Work work, unsigned khz) noexcept {
    const std::uint64_t nominal = BusyTable[static_cast<std::size_t>(work)].nanoseconds;
    return static_cast<std::uint32_t>((nominal * kNominalOscillatorKhz + khz - 1) / khz);
}
