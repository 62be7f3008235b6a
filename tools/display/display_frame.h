// What wendle-display writes, as text: the live frame for a terminal (the
// screen in a bezel, the last bytes in hex and decoded, a status line, what
// was not modelled), the plain line per arrival for scripts. Pure functions
// of the module's state and what arrived, so that they are tested without a
// terminal.
#pragma once

#include "display/module.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How many of the last bytes the frame shows.
inline constexpr std::size_t kRecentBytes = 16;

// What the program has seen of the line (the model keeps no record of it).
struct Arrivals {
    std::string recent; // the last kRecentBytes bytes, oldest first
    std::uint64_t total = 0;
};

void NoteArrival(Arrivals& arrivals, std::string_view bytes);

struct FrameView {
    const Module& module;
    const Arrivals& arrivals;
    std::string_view source; // what is read: a path, "standard input"
    std::string_view line;   // the writer's line settings ("9600 8N1, ..."), or empty
    bool dots = false;       // each cell as its 5x8 dots, in half blocks
    unsigned columns = 0;    // the terminal's size; 0: no limit
    unsigned rows = 0;
    bool colour = true; // false for NO_COLOR: attributes only
};

// The frame's lines, with colour codes (SGR) but no cursor movement: a title,
// the bezel's top, one line per row of the screen (text mode) or per two rows
// of dots, the bezel's bottom, the bytes, the decoded bytes, the status and
// the last report of the bytes not modelled; for a module fed with time,
// the last lost byte and what a module without a buffer would lose. Every
// line fits in `columns`
// (a longer one is cut and ends with "…") and there are at most `rows`;
// dots that do not fit give text mode and a line that says so. In text mode
// every cell is one column: a double-width character (千, ⁻¹) is shown as
// kWideStandIn.
std::vector<std::string> FrameLines(const FrameView& view);

inline constexpr std::string_view kWideStandIn = "□";

// A whole screen of `lines` for a terminal: from the top left corner, each
// line cleared and written, the rest of the screen cleared below; no line
// feed after the last line, which may be the terminal's last row.
std::string ScreenText(const std::vector<std::string>& lines);

// How many of a run's first reports (kReportsListed of each kind) the plain
// lines have listed.
struct ReportsListed {
    std::uint64_t unmodelled = 0;
    std::uint64_t lost = 0;
};

// The reports not listed yet, one line each: "not modelled: offset 6: 1B:
// ESC sequence not modelled", then "lost: offset 1 'H' at 2.083 ms: ...".
// With `closing`, "not modelled: N more, T in all" after the first kind and
// "lost: ..." after the second where some were not listed, and for a module
// fed with time the line "timing: " + NoBufferSummary.
std::string ReportLines(const Module& module, ReportsListed& listed, bool closing);

// One line for scripts: the bytes in hex, two spaces, the bytes decoded with
// display commands by name, a newline.
std::string ArrivalLine(std::string_view bytes);

// Live mode on a terminal: the alternate screen with the cursor hidden and
// line wrapping off, so that a title or status line wider than the terminal
// is cut at its edge instead of pushing the frame down a line; and back to
// the screen as it was, wrapping on, attributes reset and the cursor shown.
inline constexpr std::string_view kEnterLive = "\x1b[?1049h\x1b[?25l\x1b[?7l";
inline constexpr std::string_view kLeaveLive = "\x1b[?7h\x1b[0m\x1b[?25h\x1b[?1049l";
