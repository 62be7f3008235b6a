#include "app/controls_win.h"

#include <commctrl.h>

namespace {

constexpr DWORD kGroupBox = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kHelpText = WS_CHILD | WS_VISIBLE | SS_LEFT;
// No WS_GROUP on any of them: the six form one group of radio buttons.
constexpr DWORD kBaudChoice = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
// Not a Tab stop and without ES_AUTOHSCROLL: it takes the digits that fit.
constexpr DWORD kPortNumber = WS_CHILD | WS_VISIBLE | ES_NUMBER | ES_CENTER;
// Takes the port number field, created just before it, as its buddy.
constexpr DWORD kPortUpDown = WS_CHILD | WS_VISIBLE | UDS_WRAP | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                              UDS_AUTOBUDDY | UDS_ARROWKEYS;
// Without ES_AUTOHSCROLL lines wrap at the right edge; ES_WANTRETURN keeps
// Enter here instead of clicking Send.
constexpr DWORD kMessage =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
constexpr DWORD kCheckBox = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kSendButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;

static_assert(kGroupBox == 0x50000007);
static_assert(kPortNumber == 0x50002001);
static_assert(kPortUpDown == 0x50000037);
static_assert(kMessage == 0x50211044);
static_assert(kSendButton == 0x50010001);

} // namespace

const std::array<ControlEntry, 14> kControls{{
    {FORM1_PORTFRAME, "BUTTON", "Comm Port", 113, 5, 95, 42, kGroupBox, WS_EX_TRANSPARENT, nullptr},
    {FORM1_BAUDFRAME, "BUTTON", "Baud Rate", 5, 5, 105, 42, kGroupBox, WS_EX_TRANSPARENT, nullptr},
    {FORM1_HELPTEXT, "STATIC",
     "Type text and press Send. To send by ASCII code, type <#> where # is the code (0-255).", 8,
     118, 123, 25, kHelpText, 0, nullptr},
    {FORM1_BAUD38400, "BUTTON", "38400", 10, 15, 30, 12, kBaudChoice, 0, nullptr},
    {FORM1_BAUD19200, "BUTTON", "19200", 10, 30, 30, 12, kBaudChoice, 0, nullptr},
    {FORM1_BAUD9600, "BUTTON", "9600", 47, 15, 26, 12, kBaudChoice, 0, nullptr},
    {FORM1_BAUD4800, "BUTTON", "4800", 47, 30, 26, 12, kBaudChoice, 0, nullptr},
    {FORM1_BAUD2400, "BUTTON", "2400", 80, 15, 26, 12, kBaudChoice, 0, nullptr},
    {FORM1_BAUD1200, "BUTTON", "1200", 80, 30, 26, 12, kBaudChoice, 0, nullptr},
    {FORM1_PORTNUMBER, "EDIT", "1", 146, 20, 42, 14, kPortNumber, WS_EX_CLIENTEDGE, nullptr},
    {FORM1_PORTUPDOWN, "msctls_updown32", "msctls_updown32_3", 200, 18, 18, 14, kPortUpDown, 0,
     nullptr},
    {FORM1_MESSAGE, "EDIT", "", 5, 54, 203, 44, kMessage, WS_EX_CLIENTEDGE, MessageTextHandler},
    {FORM1_CLEARAFTERSEND, "BUTTON", "Clear text box after sending data.", 11, 103, 131, 12,
     kCheckBox, 0, ClearAfterSendHandler},
    {FORM1_SEND, "Button", "Send", 152, 113, 53, 15, kSendButton, 0, SendCommand},
}};
