#include "app/main_window_win.h"

#include "app/ansi_text_win.h"
#include "app/controls_win.h"
#include "app/dialog_routing_win.h"
#include "app/program_state_win.h"
#include "exports/version.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

// WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
// DS_CENTER: fixed size, no maximise box, centred in the work area.
constexpr DWORD kWindowStyle = 0x80CA0880;
// Created hidden: it is shown once every control and handler is in place.
constexpr DWORD kTemplateStyle =
    (kWindowStyle | DS_SETFONT | DS_3DLOOK | DS_NOFAILCREATE) & ~(WS_VISIBLE | DS_SYSMODAL);
constexpr short kClientWidth = 213;
constexpr short kClientHeight = 148;
constexpr WORD kFontPoints = 9;
constexpr WORD kFontWeight = FW_NORMAL;
constexpr char kFontFace[] = "Arial";
constexpr char kTemplateTitle[] = " ";
constexpr char kCaption[] = "Wendle 1.4";
constexpr char kCaptionGap[] = "  ";
// lParam of UDM_SETRANGE: the maximum 99 in the low word, the minimum 1 in the high word.
constexpr LPARAM kPortRange = 0x00010063;
constexpr char kFirstPort[] = "1";

// An extended dialog template without items, laid out as DLGTEMPLATEEX. Its
// font is the one the dialog units of every control refer to.
std::vector<WORD> BuildDialogTemplate() {
    std::vector<WORD> words;
    const auto add = [&words](WORD value) { words.push_back(value); };
    const auto add_long = [&](DWORD value) {
        add(LOWORD(value));
        add(HIWORD(value));
    };
    const auto add_text = [&](const std::wstring& text) {
        words.insert(words.end(), text.begin(), text.end());
        add(0);
    };
    add(1);      // dlgVer
    add(0xFFFF); // signature of the extended template
    add_long(0); // helpID
    add_long(0); // exStyle
    add_long(kTemplateStyle);
    add(0); // no items
    add(0); // x, y: DS_CENTER places the window
    add(0);
    add(kClientWidth);
    add(kClientHeight);
    add(0); // no menu
    add(0); // the system dialog class
    add_text(WidenAnsi(kTemplateTitle));
    add(kFontPoints);
    add(kFontWeight);
    add(MAKEWORD(FALSE, ANSI_CHARSET)); // italic, charset
    add_text(WidenAnsi(kFontFace));
    return words;
}

void CreateControls(HWND window) {
    const auto font = static_cast<WPARAM>(SendMessageW(window, WM_GETFONT, 0, 0));
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const ControlEntry& entry : kControls) {
        RECT bounds{entry.x, entry.y, entry.x + entry.width, entry.y + entry.height};
        MapDialogRect(window, &bounds);
        HWND control =
            CreateWindowExW(entry.exStyle, WidenAnsi(entry.className).c_str(),
                            WidenAnsi(entry.text).c_str(), entry.style, bounds.left, bounds.top,
                            bounds.right - bounds.left, bounds.bottom - bounds.top, window,
                            reinterpret_cast<HMENU>(INT_PTR{entry.id}), instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, TRUE);
        if (entry.handler != nullptr) {
            AttachHandler(control, entry.handler);
        }
    }
}

// The window's handler gets its WM_INITDIALOG and WM_SIZE directly, before
// it is attached and the window is shown.
void ShowWithHandler(HWND window) {
    WindowHandler(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(window), 0);
    RECT client{};
    GetClientRect(window, &client);
    WindowHandler(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    AttachHandler(window, WindowHandler);
    ShowWindow(window, SW_SHOW);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

} // namespace

void CreateMainWindow(HWND parent) {
    const std::vector<WORD> dialog_template = BuildDialogTemplate();
    HWND window = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog_template.data()),
        parent, MainDialogProc, 0);
    SetWindowTextW(window, WidenAnsi(std::string(kCaption) + kCaptionGap + kMakerAddress).c_str());
    gMainWindow = window;
    CreateControls(window);
    SendDlgItemMessageW(window, FORM1_PORTUPDOWN, UDM_SETRANGE, 0, kPortRange);
    SetWindowTextW(GetDlgItem(window, FORM1_PORTNUMBER), WidenAnsi(kFirstPort).c_str());
    ShowWithHandler(window);
}
