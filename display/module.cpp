#include "display/module.h"

#include "display/module_time.h"

#include <algorithm>
#include <initializer_list>

namespace {

constexpr unsigned kPositionBase = 64; // the position byte is 64 + the cell
constexpr unsigned kTabStop = 4;

constexpr std::string_view kProfileNames[] = {"command", "prefix-only"};

std::span<const unsigned char> AsBytes(std::string_view bytes) {
    return std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void Report(Module& m, std::uint64_t offset, std::initializer_list<unsigned char> bytes,
            Reason reason) {
    UnmodelledBytes entry{offset, {}, static_cast<unsigned char>(bytes.size()), reason};
    std::copy(bytes.begin(), bytes.end(), entry.bytes);
    AddReport(m.unmodelled, entry);
}

// The row the address counter is in and its column there: the row with the
// highest start address not above the counter. Every screen has a row at 0,
// and rows never share memory, so that row exists and is the right one; the
// column can pass the screen's width when the counter is beyond it.
struct Place {
    unsigned row;
    unsigned column;
};

Place CounterPlace(const Module& m) {
    const Geometry& g = *m.geometry;
    const unsigned address = FoldDdramAddress(m.controller, m.controller.address);
    Place place{0, address};
    for (unsigned r = 0; r < g.rows; ++r) {
        if (g.row_start[r] <= address && g.row_start[r] >= g.row_start[place.row]) {
            place = {r, address - g.row_start[r]};
        }
    }
    return place;
}

// `column` stays inside the row's memory: callers pass a column of the screen
// or one back from where the counter is.
void MoveTo(Module& m, unsigned row, unsigned column) {
    const unsigned address = m.geometry->row_start[row] + column;
    ControllerInstruction(m.controller, static_cast<unsigned char>(kSetDdramAddress | address));
}

// Same column on another row, or that row's last cell when the counter was
// beyond the screen.
void MoveToRow(Module& m, unsigned row, unsigned column) {
    MoveTo(m, row, std::min(column, m.geometry->columns - 1u));
}

void SetCursorLook(Module& m, unsigned char look_bits) {
    const unsigned char on = m.controller.display_on ? kDisplayOnBit : 0;
    ControllerInstruction(m.controller, kDisplayControl | on | look_bits);
}

void Backspace(Module& m) {
    const Geometry& g = *m.geometry;
    const Place place = CounterPlace(m);
    if (place.column == 0) {
        MoveTo(m, (place.row + g.rows - 1) % g.rows, g.columns - 1u);
    } else {
        MoveTo(m, place.row, place.column - 1);
    }
    PutDdram(m.controller, m.controller.address, kBlankCode);
}

void Tab(Module& m) {
    const Geometry& g = *m.geometry;
    const Place place = CounterPlace(m);
    const unsigned next = (place.column / kTabStop + 1) * kTabStop;
    if (next < g.columns) {
        MoveTo(m, place.row, next);
    } else {
        MoveTo(m, (place.row + 1) % g.rows, 0);
    }
}

void Position(Module& m, unsigned char argument) {
    const Geometry& g = *m.geometry;
    const unsigned cell = argument - kPositionBase;
    if (!PositionOnScreen(g, argument)) {
        Report(m, m.pending_offset, {kPositionCommand, argument}, Reason::kPositionOutside);
        return;
    }
    MoveTo(m, cell / g.columns, cell % g.columns);
}

// Instruction, Command and FeedByte are inlined by force: FeedByte serves
// both feeding loops, and the compiler's size rule would then leave a call
// per byte that costs each loop about a tenth of its time.
[[gnu::always_inline]] inline void Instruction(Module& m, unsigned char instruction) {
    const unsigned notes = ControllerInstruction(m.controller, instruction);
    constexpr struct {
        unsigned note;
        Reason reason;
    } kNoteReasons[] = {
        {kNoteAddressFolded, Reason::kAddressFolded},
        {kNoteFourBitBus, Reason::kFourBitBus},
        {kNoteFiveByTenFont, Reason::kFiveByTenFont},
    };
    for (const auto& n : kNoteReasons) {
        if (notes & n.note) {
            Report(m, m.pending_offset, {kPrefixByte, instruction}, n.reason);
        }
    }
}

[[gnu::always_inline]] inline void Command(Module& m, unsigned char byte, std::uint64_t offset) {
    const CommandRow& row = CommandTable[byte];
    const Geometry& g = *m.geometry;
    switch (row.action) {
    case Action::kNotACommand:
    case Action::kNotModelled:
        // The next byte is read as usual, so that nothing after it slips.
        Report(m, offset, {byte}, row.reason);
        break;
    case Action::kHome:
        ControllerInstruction(m.controller, kReturnHome);
        break;
    case Action::kCursorOff:
        SetCursorLook(m, 0);
        break;
    case Action::kUnderlineCursor:
        SetCursorLook(m, kCursorOnBit);
        break;
    case Action::kBlockCursor:
        SetCursorLook(m, kBlinkOnBit);
        break;
    case Action::kBell:
        ++m.bells;
        break;
    case Action::kBackspace:
        Backspace(m);
        break;
    case Action::kTab:
        Tab(m);
        break;
    case Action::kLineFeed: {
        const Place place = CounterPlace(m);
        MoveToRow(m, (place.row + 1) % g.rows, place.column);
        break;
    }
    case Action::kVerticalTab: {
        const Place place = CounterPlace(m);
        MoveToRow(m, (place.row + g.rows - 1) % g.rows, place.column);
        break;
    }
    case Action::kClearScreen:
        ControllerInstruction(m.controller, kClearDisplay);
        break;
    case Action::kCarriageReturn:
        MoveTo(m, CounterPlace(m).row, 0);
        break;
    case Action::kBacklightOn:
    case Action::kBacklightOff:
        m.backlight_on = row.action == Action::kBacklightOn;
        break;
    case Action::kPosition:
        m.pending = byte;
        m.pending_offset = offset;
        break;
    }
}

// Whether the module acts on the byte: most bytes change no time.
bool Timed(Module& m, unsigned char byte, Work work) {
    if (!((m.time.timed_works >> static_cast<unsigned>(work)) & 1u)) [[likely]] {
        return true;
    }
    return TimeByte(m, byte, work);
}

// Byte m.offset. Fed with time, each branch times the byte by its Work
// before acting on it, so that timing adds no branch a stream could make
// hard to predict.
template <bool kWithTime>
[[gnu::always_inline]] inline void FeedByte(Module& m, unsigned char byte) {
    const std::uint64_t offset = m.offset;
    if (m.pending != 0) {
        const unsigned char command = m.pending;
        const Work work = command == kPrefixByte ? InstructionWork(byte) : Work::kSetDdramAddress;
        if (kWithTime && !Timed(m, byte, work)) {
            return;
        }
        m.pending = 0;
        if (command == kPrefixByte) {
            Instruction(m, byte);
        } else {
            Position(m, byte);
        }
    } else if (byte == kPrefixByte) {
        if (kWithTime && !Timed(m, byte, Work::kNothing)) {
            return;
        }
        m.pending = byte;
        m.pending_offset = offset;
    } else if (m.profile == Profile::kCommand && byte < kFirstCharacter) {
        if (kWithTime && !Timed(m, byte, CommandTable[byte].work)) {
            return;
        }
        Command(m, byte, offset);
    } else {
        if (kWithTime && !Timed(m, byte, Work::kDataWrite)) {
            return;
        }
        ControllerWrite(m.controller, byte);
    }
}

} // namespace

std::string_view ProfileName(Profile profile) noexcept {
    return kProfileNames[static_cast<std::size_t>(profile)];
}

std::optional<Profile> FindProfile(std::string_view name) noexcept {
    for (std::size_t i = 0; i < std::size(kProfileNames); ++i) {
        if (kProfileNames[i] == name) {
            return static_cast<Profile>(i);
        }
    }
    return std::nullopt;
}

Module MakeModule(const Geometry& geometry, Profile profile, const ModuleTiming& timing) {
    Module m{};
    m.geometry = &geometry;
    m.profile = profile;
    m.controller = PowerOnController(geometry.two_line);
    m.backlight_on = true;
    StartModuleTime(m, timing);
    return m;
}

void FeedModule(Module& m, std::span<const unsigned char> bytes) noexcept {
    for (unsigned char byte : bytes) {
        FeedByte<false>(m, byte);
        ++m.offset;
    }
}

void FeedModule(Module& m, std::string_view bytes) noexcept {
    FeedModule(m, AsBytes(bytes));
}

void FeedModuleAt(Module& m, std::uint64_t read_ns, std::span<const unsigned char> bytes) noexcept {
    StartRead(m, read_ns);
    for (unsigned char byte : bytes) {
        FeedByte<true>(m, byte);
        ++m.offset;
    }
}

void FeedModuleAt(Module& m, std::uint64_t read_ns, std::string_view bytes) noexcept {
    FeedModuleAt(m, read_ns, AsBytes(bytes));
}

void FinishModule(Module& m) noexcept {
    if (m.pending != 0) {
        Report(m, m.pending_offset, {m.pending}, Reason::kUnfinished);
        m.pending = 0;
    }
    m.time.no_buffer_pending = 0;
}

std::vector<UnmodelledBytes> RecentUnmodelled(const Module& m) {
    return RecentReports(m.unmodelled);
}

bool PositionOnScreen(const Geometry& g, unsigned char argument) noexcept {
    return argument >= kPositionBase &&
           argument - kPositionBase < static_cast<unsigned>(g.columns * g.rows);
}

std::string DescribeUnmodelled(const UnmodelledBytes& entry) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "offset " + std::to_string(entry.offset) + ":";
    for (unsigned i = 0; i < entry.size; ++i) {
        text += ' ';
        text += kDigits[entry.bytes[i] >> 4];
        text += kDigits[entry.bytes[i] & 0xF];
    }
    text += ": ";
    text += ReasonText(entry.reason);
    return text;
}
