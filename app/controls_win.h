// The controls of the main window: identifiers and the table they are
// created from.
#pragma once

#include "app/event_handler_win.h"
#include "serial/line_rates.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <iterator>

enum ControlIdentifier : int {
    FORM1_SEND = 1, // IDOK: Enter in a control that does not take it clicks Send
    FORM1_PORTFRAME = 100,
    FORM1_BAUDFRAME = 105,
    FORM1_HELPTEXT = 110,
    FORM1_BAUD9600 = 115,
    FORM1_BAUD4800 = 120,
    FORM1_BAUD2400 = 125,
    FORM1_BAUD1200 = 130,
    FORM1_BAUD38400 = 135,
    FORM1_BAUD19200 = 140,
    FORM1_MESSAGE = 175,
    FORM1_CLEARAFTERSEND = 180,
    FORM1_PORTNUMBER = 1012,
    FORM1_PORTUPDOWN = 1013,
};

// Position and size in dialog units of the window's font, relative to the
// client area. Texts are 8-bit, widened with the ANSI code page.
struct ControlEntry {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    DWORD style;
    DWORD exStyle;
    EventHandler handler; // null: the control has none
};

// In creation order, which is also the Z order and the Tab order.
extern const std::array<ControlEntry, 14> kControls;

struct BaudRateChoice {
    int id;
    int rate;
};

// In the order the Send command asks them: the last checked one wins.
inline constexpr std::array<BaudRateChoice, 6> kBaudRateChoices{{
    {FORM1_BAUD38400, 38400},
    {FORM1_BAUD19200, 19200},
    {FORM1_BAUD9600, 9600},
    {FORM1_BAUD4800, 4800},
    {FORM1_BAUD2400, 2400},
    {FORM1_BAUD1200, 1200},
}};

// The window offers every rate of kLineRates, each once, and no other.
constexpr bool OffersTheLineRates() {
    if (kBaudRateChoices.size() != std::size(kLineRates)) {
        return false;
    }
    for (const int rate : kLineRates) {
        if (std::count_if(kBaudRateChoices.begin(), kBaudRateChoices.end(),
                          [rate](const BaudRateChoice& choice) { return choice.rate == rate; }) !=
            1) {
            return false;
        }
    }
    return true;
}
static_assert(OffersTheLineRates());
