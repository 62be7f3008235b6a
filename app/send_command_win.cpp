// The Send command: the one handler that acts. It goes through the exported
// functions themselves, so the window and other programs share one road.
#include "app/ansi_text_win.h"
#include "app/controls_win.h"
#include "app/event_handler_win.h"
#include "app/program_state_win.h"
#include "exports/wendle.h"

#include <oleauto.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace {

// The message as an OLE byte string, released however the send went.
class ByteString {
  public:
    explicit ByteString(const std::string& bytes)
        : value_(SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()))) {}
    ~ByteString() { SysFreeString(value_); }
    ByteString(const ByteString&) = delete;
    ByteString& operator=(const ByteString&) = delete;
    BSTR* address() { return &value_; }

  private:
    BSTR value_;
};

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Leading blanks are skipped and the number is read up to the first character
// that cannot continue it; nothing readable gives 0. A value beyond a 32-bit
// integer becomes the most negative one, which no port has, rather than
// wrapping round to a port that happens to exist.
std::int32_t PortNumberFromText(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    double value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - L'0');
    }
    if (i < text.size() && text[i] == L'.') {
        double scale = 0.1;
        for (++i; i < text.size() && IsDigit(text[i]); ++i, scale /= 10) {
            value += (text[i] - L'0') * scale;
        }
    }
    value = std::nearbyint(negative ? -value : value);
    constexpr auto kLowest = std::numeric_limits<std::int32_t>::min();
    if (!(value >= kLowest && value <= std::numeric_limits<std::int32_t>::max())) {
        return kLowest;
    }
    return static_cast<std::int32_t>(value);
}

bool IsChecked(HWND window, int id) {
    return SendDlgItemMessageW(window, id, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

} // namespace

std::int32_t SelectedBaudRate() {
    std::int32_t rate = 0;
    for (const BaudRateChoice& choice : kBaudRateChoices) {
        if (SendDlgItemMessageW(gMainWindow, choice.id, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            rate = choice.rate;
        }
    }
    return rate;
}

// Returns 0 in every case: the click goes on to the window's handler.
INT_PTR CALLBACK SendCommand(HWND window, UINT message, WPARAM wparam, LPARAM) {
    if (message != WM_COMMAND || HIWORD(wparam) != BN_CLICKED) {
        return 0;
    }
    ByteString text(NarrowAnsi(WindowText(GetDlgItem(window, FORM1_MESSAGE))));
    const std::int32_t port = PortNumberFromText(WindowText(GetDlgItem(window, FORM1_PORTNUMBER)));
    const std::int32_t rate = SelectedBaudRate();

    const bool opened = SER_OPEN(port, rate) == 1;
    SER_SEND(text.address());
    SER_CLOSE();

    // A message that could not even be sent stays in the box to be sent again.
    if (opened && IsChecked(window, FORM1_CLEARAFTERSEND)) {
        SetWindowTextW(GetDlgItem(window, FORM1_MESSAGE), L"");
    }
    return 0;
}
