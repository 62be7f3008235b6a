#include "display/controller.h"

namespace {

static_assert(2 * kTwoLineLength == kDdramSize && kOneLineLength == kDdramSize);

bool IsDdramAddress(const Controller& c, unsigned address) {
    if (!c.two_line) {
        return address < kOneLineLength;
    }
    return (address & ~kLineTwo) < kTwoLineLength && address < 2 * kLineTwo;
}

unsigned DdramIndex(const Controller& c, unsigned address) {
    address = FoldDdramAddress(c, address);
    if (c.two_line && address >= kLineTwo) {
        return address - kLineTwo + kTwoLineLength;
    }
    return address;
}

// The counter's next address in display memory. In two-line mode it runs
// from the end of line one (0x27) to the start of line two (0x40) and from
// the end of line two (0x67) back to 0x00; backwards the other way round.
unsigned char StepDdram(const Controller& c, unsigned address, bool forward) {
    if (!c.two_line) {
        return static_cast<unsigned char>((address + (forward ? 1 : kOneLineLength - 1)) %
                                          kOneLineLength);
    }
    const unsigned last = kTwoLineLength - 1;
    if (forward) {
        if (address == last) {
            return kLineTwo;
        }
        return static_cast<unsigned char>(address == kLineTwo + last ? 0 : address + 1);
    }
    if (address == 0) {
        return kLineTwo + last;
    }
    return static_cast<unsigned char>(address == kLineTwo ? last : address - 1);
}

void StepCounter(Controller& c, bool forward) {
    if (c.cgram_selected) {
        c.address = static_cast<unsigned char>((c.address + (forward ? 1 : -1)) & (kCgramSize - 1));
    } else {
        c.address = StepDdram(c, c.address, forward);
    }
}

void ShiftDisplay(Controller& c, bool left) {
    const unsigned length = LineLength(c);
    c.shift = static_cast<unsigned char>((c.shift + (left ? 1 : length - 1)) % length);
}

void ClearDisplay(Controller& c) {
    for (unsigned char& cell : c.ddram) {
        cell = kBlankCode;
    }
    c.address = 0;
    c.cgram_selected = false;
    c.increment = true; // the shift-on-write flag stays as it was
    c.shift = 0;
}

unsigned FunctionSet(Controller& c, unsigned char instruction) {
    unsigned notes = kNoteNone;
    // The module's firmware owns the bus: a 4-bit request would only garble
    // what it sends next, so the model keeps the 8-bit bus and says so.
    if ((instruction & 0x10) == 0) {
        notes |= kNoteFourBitBus;
    }
    c.font_5x10 = (instruction & 0x04) != 0;
    const bool two_line = (instruction & 0x08) != 0;
    if (c.font_5x10 && !two_line) {
        notes |= kNoteFiveByTenFont;
    }
    if (two_line != c.two_line) {
        // The counter keeps its value where that is memory in the new mode;
        // the codes stay in the chip's cells.
        c.two_line = two_line;
        if (!c.cgram_selected) {
            c.address = FoldDdramAddress(c, c.address);
        }
        c.shift = static_cast<unsigned char>(c.shift % LineLength(c));
    }
    return notes;
}

} // namespace

Controller PowerOnController(bool two_line) noexcept {
    Controller c{};
    c.two_line = two_line;
    c.display_on = true;
    ClearDisplay(c);
    return c;
}

unsigned ControllerInstruction(Controller& c, unsigned char instruction) noexcept {
    if (instruction & kSetDdramAddress) {
        const unsigned wanted = instruction & 0x7F;
        c.cgram_selected = false;
        c.address = FoldDdramAddress(c, wanted);
        return c.address == wanted ? kNoteNone : kNoteAddressFolded;
    }
    if (instruction & kSetCgramAddress) {
        c.cgram_selected = true;
        c.address = instruction & (kCgramSize - 1);
    } else if (instruction & kFunctionSet) {
        return FunctionSet(c, instruction);
    } else if (instruction & kCursorShift) {
        const bool right = (instruction & 0x04) != 0;
        if (instruction & 0x08) {
            ShiftDisplay(c, !right); // the counter stays
        } else {
            StepCounter(c, right);
        }
    } else if (instruction & kDisplayControl) {
        c.display_on = (instruction & kDisplayOnBit) != 0;
        c.cursor_on = (instruction & kCursorOnBit) != 0;
        c.blink_on = (instruction & kBlinkOnBit) != 0;
    } else if (instruction & kEntryModeSet) {
        c.increment = (instruction & 0x02) != 0;
        c.shift_on_write = (instruction & 0x01) != 0;
    } else if (instruction & kReturnHome) {
        c.address = 0;
        c.cgram_selected = false;
        c.shift = 0;
    } else if (instruction & kClearDisplay) {
        ClearDisplay(c);
    }
    // Instruction 0 does nothing.
    return kNoteNone;
}

void ControllerWrite(Controller& c, unsigned char data) noexcept {
    if (c.cgram_selected) {
        c.cgram[c.address & (kCgramSize - 1)] = data;
        StepCounter(c, c.increment); // writes to CGRAM never shift the display
        return;
    }
    c.ddram[DdramIndex(c, c.address)] = data;
    StepCounter(c, c.increment);
    if (c.shift_on_write) {
        // Incrementing shifts left, so that the cursor seems to stand still.
        ShiftDisplay(c, c.increment);
    }
}

unsigned LineLength(const Controller& c) noexcept {
    return c.two_line ? kTwoLineLength : kOneLineLength;
}

unsigned char FoldDdramAddress(const Controller& c, unsigned address) noexcept {
    address &= 0x7F;
    if (IsDdramAddress(c, address)) {
        return static_cast<unsigned char>(address);
    }
    // Past the end of line one (two-line mode) the next line is line two;
    // past everything else it is line one.
    return c.two_line && address < kLineTwo ? kLineTwo : 0;
}

unsigned char DdramAt(const Controller& c, unsigned address) noexcept {
    return c.ddram[DdramIndex(c, address)];
}

void PutDdram(Controller& c, unsigned address, unsigned char code) noexcept {
    c.ddram[DdramIndex(c, address)] = code;
}

int ShownAddress(const Controller& c, unsigned row_start, unsigned column) noexcept {
    const unsigned length = LineLength(c);
    const unsigned base = c.two_line ? (row_start & kLineTwo) : 0;
    if (!c.two_line && row_start >= kLineTwo) {
        return -1;
    }
    // Display shift moves each line within its own cells; a line never
    // shifts into the other.
    return static_cast<int>(base + (row_start - base + column + c.shift) % length);
}
