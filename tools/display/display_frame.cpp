#include "tools/display/display_frame.h"

#include "display/picture.h"
#include "display/screen.h"
#include "translator/decode.h"

#include <algorithm>

namespace {

// Colours from the terminal's 256-colour palette, near the picture's.
struct TerminalColours {
    int background, off, on;
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

// Attributes from reset, so that one cell's underline never runs on;
// without colour (NO_COLOR) the attributes alone.
std::string Sgr(bool colour, int foreground, int background, std::string_view more = {}) {
    if (!colour) {
        return "\x1b[0" + std::string(more) + "m";
    }
    return "\x1b[0;38;5;" + std::to_string(foreground) + ";48;5;" + std::to_string(background) +
           std::string(more) + "m";
}

// Text mode keeps every cell one terminal column, as on the screen: a
// double-width character would push the rest of its row out of line.
std::string_view CellText(unsigned char code) {
    return CharacterColumns(code) == 1 ? CharacterText(code) : kWideStandIn;
}

// The terminal columns `text` takes: escape sequences take none, and every
// other character (UTF-8 sequence) one, which holds for everything a frame
// holds once wide characters have their stand-in.
std::size_t VisibleWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b') {
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~' && text[i] != '[')) {
                ++i;
            }
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++width;
        }
    }
    return width;
}

// `line` cut to `columns` with "…" as its last column when it is wider.
std::string Fit(const std::string& line, std::size_t columns) {
    if (columns == 0 || VisibleWidth(line) <= columns) {
        return line;
    }
    std::size_t width = 0;
    std::size_t i = 0;
    for (; i < line.size(); ++i) {
        if (line[i] == '\x1b') {
            while (i < line.size() && !(line[i] >= '@' && line[i] <= '~' && line[i] != '[')) {
                ++i;
            }
        } else if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 && ++width == columns) {
            break;
        }
    }
    const bool painted = line.find('\x1b') != std::string::npos;
    return line.substr(0, i) + (painted ? std::string(kReset) : "") + "…";
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

void AddTextRows(const Module& module, bool colour, std::vector<std::string>& lines) {
    const unsigned width = module.geometry->columns;
    const std::string attributes = CursorAttributes(module);
    const std::optional<CellPosition> cursor =
        module.controller.display_on && !attributes.empty() ? CursorCell(module) : std::nullopt;
    const std::string background = Sgr(colour, kTextColour, ColoursOf(module).background);
    lines.push_back("╔" + Repeat("═", width) + "╗");
    for (unsigned row = 0; row < module.geometry->rows; ++row) {
        std::string line = "║" + background;
        for (unsigned column = 0; column < module.geometry->columns; ++column) {
            const std::optional<unsigned char> code = CellCode(module, row, column);
            const bool at_cursor = cursor == CellPosition{row, column};
            if (at_cursor) {
                line += Sgr(colour, kTextColour, ColoursOf(module).background, attributes);
            }
            line += code ? CellText(*code) : " ";
            if (at_cursor) {
                line += background;
            }
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
        return colours.background;
    }
}

// Without colour, a lit dot is ink and the rest is blank.
std::string_view InkBlock(Dot upper, Dot lower) {
    constexpr std::string_view kBlocks[] = {" ", "\xE2\x96\x84", "\xE2\x96\x80",
                                            "\xE2\x96\x88"}; // " ", ▄, ▀, █
    return kBlocks[(upper == Dot::kOn ? 2 : 0) + (lower == Dot::kOn ? 1 : 0)];
}

// Dots mode: two rows of dots per line, the upper as the foreground of a
// half block and the lower as its background.
void AddDotRows(const DotMap& map, const Module& module, bool colour,
                std::vector<std::string>& lines) {
    const TerminalColours& colours = ColoursOf(module);
    lines.push_back("╔" + Repeat("═", map.width) + "╗");
    for (unsigned y = 0; y < map.height; y += 2) {
        std::string line = "║";
        std::string last;
        for (unsigned x = 0; x < map.width; ++x) {
            const Dot lower = y + 1 < map.height ? map.At(x, y + 1) : Dot::kBackground;
            if (!colour) {
                line += InkBlock(map.At(x, y), lower);
                continue;
            }
            std::string paint =
                Sgr(true, DotColour(map.At(x, y), colours), DotColour(lower, colours));
            if (paint != last) {
                line += paint;
                last = std::move(paint);
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
    if (module.lost.total != 0) {
        text += " · lost " + std::to_string(module.lost.total);
    }
    return text;
}

constexpr std::string_view kUnmodelledLabel = "not modelled: ";
constexpr std::string_view kLostLabel = "lost: ";

// "not modelled: none", or how many and the last.
template <typename Report, typename Describe>
std::string LastReportLine(const ReportLog<Report>& log, std::string_view label,
                           Describe describe) {
    if (log.total == 0) {
        return std::string(label) + "none";
    }
    return std::string(label) + std::to_string(log.total) +
           ", the last: " + describe(log.last[(log.total - 1) % kReportsKept]);
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
    const std::string kind =
        std::string(module.geometry->name) + " " + std::string(ProfileName(module.profile));
    const std::string source = Printable(view.source);
    std::string title = "wendle-display " + kind + " · q or Ctrl+C ends · " + source;
    if (view.columns != 0 && VisibleWidth(title) > view.columns) {
        // The way out and the source are what a narrow terminal must keep.
        title = "q quits · " + source + " · " + kind;
    }
    lines.push_back(title);
    const Arrivals& arrivals = view.arrivals;
    // Title, bezel, bytes, decoded, status, not modelled, and with time the
    // lost bytes and the summary: the screen's rows come on top of these.
    const unsigned frame_lines = module.time.wire.timed ? 9 : 7;
    bool dots = view.dots;
    DotMap map;
    if (dots) {
        map = MapDots(module);
        const unsigned width = map.width + 2;
        const unsigned height = (map.height + 1) / 2 + frame_lines;
        if ((view.columns != 0 && width > view.columns) || (view.rows != 0 && height > view.rows)) {
            dots = false;
            lines.push_back("--dots needs " + std::to_string(width) + "x" + std::to_string(height) +
                            ": text until the terminal is that big");
        }
    }
    if (dots) {
        AddDotRows(map, module, view.colour, lines);
    } else {
        AddTextRows(module, view.colour, lines);
    }
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
    lines.push_back(LastReportLine(module.unmodelled, kUnmodelledLabel, DescribeUnmodelled));
    if (module.time.wire.timed) {
        lines.push_back(LastReportLine(module.lost, kLostLabel, [&](const LostByte& lost) {
            return DescribeLost(module, lost);
        }));
        lines.push_back(NoBufferSummary(module));
    }
    if (view.rows != 0 && lines.size() > view.rows) {
        lines.resize(view.rows);
    }
    for (std::string& line : lines) {
        line = Fit(line, view.columns);
    }
    return lines;
}

std::string ScreenText(const std::vector<std::string>& lines) {
    // Each line is cleared before it is written: with wrapping off, the
    // cursor stays on the last column after a line that fills the width,
    // and clearing after it would take that column's character away.
    std::string text = "\x1b[H";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += "\x1b[2K";
        text += lines[i];
        if (i + 1 < lines.size()) {
            text += '\n';
        }
    }
    return text + "\x1b[J";
}

namespace {

template <typename Report, typename Describe>
std::string ListLines(const ReportLog<Report>& log, std::uint64_t& listed, bool closing,
                      std::string_view label, Describe describe) {
    std::string text;
    for (; listed < std::min<std::uint64_t>(log.total, kReportsListed); ++listed) {
        text += std::string(label) + describe(log.first[listed]) + "\n";
    }
    if (closing && log.total > listed) {
        text += std::string(label) + std::to_string(log.total - listed) + " more, " +
                std::to_string(log.total) + " in all\n";
    }
    return text;
}

} // namespace

std::string ReportLines(const Module& module, ReportsListed& listed, bool closing) {
    std::string text = ListLines(module.unmodelled, listed.unmodelled, closing, kUnmodelledLabel,
                                 DescribeUnmodelled);
    text += ListLines(module.lost, listed.lost, closing, kLostLabel,
                      [&](const LostByte& lost) { return DescribeLost(module, lost); });
    if (closing && module.time.wire.timed) {
        text += "timing: " + NoBufferSummary(module) + "\n";
    }
    return text;
}

std::string ArrivalLine(std::string_view bytes) {
    return HexPairs(bytes) + "  " + DecodeBytes(bytes, true) + "\n";
}
