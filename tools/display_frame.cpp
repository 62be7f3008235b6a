#include "tools/display_frame.h"

#include "display/picture.h"
#include "display/screen.h"
#include "translator/decode.h"

#include <algorithm>

namespace {

// Colours from the terminal's 256-colour palette, near the picture's.
struct TerminalColours {
    int glass, off, on;
};
constexpr TerminalColours kTerminalLit{149, 107, 234};
constexpr TerminalColours kTerminalDark{59, 240, 233};
constexpr int kTextColour = 16; // black

constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kUpperHalf = "\xE2\x96\x80"; // ▀

std::string Repeat(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// A name from outside (a path) on the terminal: its control characters
// could move the cursor or change the colours, so they become "?".
std::string Printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

const TerminalColours& ColoursOf(const Module& module) {
    return module.backlight_on ? kTerminalLit : kTerminalDark;
}

// Attributes from reset, so that one cell's underline never runs on.
std::string Sgr(int foreground, int background, std::string_view more = {}) {
    return "\x1b[0;38;5;" + std::to_string(foreground) + ";48;5;" + std::to_string(background) +
           std::string(more) + "m";
}

// Text mode: each column as wide as its widest character, so that a kanji
// (two terminal columns) keeps the rows and the bezel in line.
std::vector<unsigned> ColumnWidths(const Module& module) {
    std::vector<unsigned> widths(module.geometry->columns, 1);
    for (unsigned row = 0; row < module.geometry->rows; ++row) {
        for (unsigned column = 0; column < module.geometry->columns; ++column) {
            if (const std::optional<unsigned char> code = CellCode(module, row, column)) {
                widths[column] = std::max(widths[column], CharacterColumns(*code));
            }
        }
    }
    return widths;
}

// The terminal's attributes for the cursor's cell: underline for the
// underline cursor, blinking reverse video for the blinking block.
std::string CursorAttributes(const Module& module) {
    std::string more;
    if (module.controller.cursor_on) {
        more += ";4";
    }
    if (module.controller.blink_on) {
        more += ";5;7";
    }
    return more;
}

void AddTextRows(const Module& module, std::vector<std::string>& lines) {
    const std::vector<unsigned> widths = ColumnWidths(module);
    unsigned width = 0;
    for (unsigned w : widths) {
        width += w;
    }
    const std::string attributes = CursorAttributes(module);
    const std::optional<CellPosition> cursor =
        module.controller.display_on && !attributes.empty() ? CursorCell(module) : std::nullopt;
    const std::string glass = Sgr(kTextColour, ColoursOf(module).glass);
    lines.push_back("╔" + Repeat("═", width) + "╗");
    for (unsigned row = 0; row < module.geometry->rows; ++row) {
        std::string line = "║" + glass;
        for (unsigned column = 0; column < module.geometry->columns; ++column) {
            const std::optional<unsigned char> code = CellCode(module, row, column);
            const bool at_cursor = cursor == CellPosition{row, column};
            if (at_cursor) {
                line += Sgr(kTextColour, ColoursOf(module).glass, attributes);
            }
            line += code ? CharacterText(*code) : " ";
            if (at_cursor) {
                line += glass;
            }
            line += Repeat(" ", widths[column] - (code ? CharacterColumns(*code) : 1));
        }
        lines.push_back(line + std::string(kReset) + "║");
    }
    lines.push_back("╚" + Repeat("═", width) + "╝");
}

int DotColour(Dot dot, const TerminalColours& colours) {
    switch (dot) {
    case Dot::kOn:
        return colours.on;
    case Dot::kOff:
        return colours.off;
    default:
        return colours.glass;
    }
}

// Dots mode: two rows of dots per line, the upper as the foreground of a
// half block and the lower as its background.
void AddDotRows(const Module& module, std::vector<std::string>& lines) {
    const DotMap map = MapDots(module);
    const TerminalColours& colours = ColoursOf(module);
    lines.push_back("╔" + Repeat("═", map.width) + "╗");
    for (unsigned y = 0; y < map.height; y += 2) {
        std::string line = "║";
        std::string last;
        for (unsigned x = 0; x < map.width; ++x) {
            const Dot lower = y + 1 < map.height ? map.At(x, y + 1) : Dot::kGlass;
            std::string colour = Sgr(DotColour(map.At(x, y), colours), DotColour(lower, colours));
            if (colour != last) {
                line += colour;
                last = std::move(colour);
            }
            line += kUpperHalf;
        }
        lines.push_back(line + std::string(kReset) + "║");
    }
    lines.push_back("╚" + Repeat("═", map.width) + "╝");
}

std::string CursorStatus(const Module& module) {
    const std::optional<CellPosition> cursor = CursorCell(module);
    if (!cursor) {
        return "cursor -";
    }
    std::string text =
        "cursor " + std::to_string(cursor->row + 1) + " " + std::to_string(cursor->column + 1);
    const Controller& controller = module.controller;
    if (controller.cursor_on && controller.blink_on) {
        return text + " underline, blinking";
    }
    if (controller.cursor_on || controller.blink_on) {
        return text + (controller.cursor_on ? " underline" : " blinking");
    }
    return text + " hidden";
}

std::string StatusLine(const FrameView& view) {
    const Module& module = view.module;
    std::string text(view.line.empty() ? "" : std::string(view.line) + " · ");
    text += module.backlight_on ? "backlight on" : "backlight off";
    if (!module.controller.display_on) {
        text += " · display off";
    }
    text += " · " + CursorStatus(module);
    if (module.bells != 0) {
        text += " · bell " + std::to_string(module.bells);
    }
    return text;
}

std::string UnmodelledLine(const Module& module) {
    if (module.unmodelled_total == 0) {
        return "not modelled: none";
    }
    return "not modelled: " + std::to_string(module.unmodelled_total) +
           ", the last: " + DescribeUnmodelled(RecentUnmodelled(module).back());
}

} // namespace

void NoteArrival(Arrivals& arrivals, std::string_view bytes) {
    arrivals.total += bytes.size();
    arrivals.recent += bytes.substr(bytes.size() - std::min(bytes.size(), kRecentBytes));
    if (arrivals.recent.size() > kRecentBytes) {
        arrivals.recent.erase(0, arrivals.recent.size() - kRecentBytes);
    }
}

std::vector<std::string> FrameLines(const FrameView& view) {
    const Module& module = view.module;
    std::vector<std::string> lines;
    // The source goes last: a long path is what a narrow terminal cuts off
    // (live drawing does not wrap), and the way out must stay in view.
    lines.push_back("wendle-display " + std::string(module.geometry->name) + " " +
                    std::string(ProfileName(module.profile)) + " · Ctrl+C ends · " +
                    Printable(view.source));
    if (view.dots) {
        AddDotRows(module, lines);
    } else {
        AddTextRows(module, lines);
    }
    const Arrivals& arrivals = view.arrivals;
    if (arrivals.total == 0) {
        lines.push_back("nothing received yet");
        lines.push_back("");
    } else {
        const bool all = arrivals.total == arrivals.recent.size();
        lines.push_back(
            std::to_string(arrivals.total) +
            (all ? " bytes: "
                 : " bytes, the last " + std::to_string(arrivals.recent.size()) + ": ") +
            HexPairs(arrivals.recent));
        lines.push_back("decoded: " + DecodeBytes(arrivals.recent, true));
    }
    lines.push_back(StatusLine(view));
    lines.push_back(UnmodelledLine(module));
    return lines;
}

std::string ScreenText(const std::vector<std::string>& lines) {
    std::string text = "\x1b[H";
    for (const std::string& line : lines) {
        text += line;
        text += "\x1b[K\n";
    }
    return text + "\x1b[J";
}

std::string ArrivalLine(std::string_view bytes) {
    return HexPairs(bytes) + "  " + DecodeBytes(bytes, true) + "\n";
}
