// Looks at and works the running Wendle window from outside its process:
// each argument group is one command, and each command prints one JSON line.
//   wendle_window_probe find 5000 ; layout ; settext 175 "A\r\nB" ; click 1
#include "probe_win.h"

#include "app/controls_win.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kCaptionStart[] = L"Wendle 1.4";

using Args = std::vector<std::wstring>;

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND FindWendle() {
    for (HWND window : TopWindows()) {
        if (TextOf(window).starts_with(kCaptionStart) && ClassOf(window) == L"#32770") {
            return window;
        }
    }
    return nullptr;
}

// Looks until `done` or the time is up. Input reaches the window through its
// own message loop, some time after SendInput returns: a look after keys or a
// click waits for their effect.
bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= milliseconds) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

// Pixels per 4 horizontal and 8 vertical dialog units of Arial 9, from a
// dialog of this process built with the same template font.
INT_PTR CALLBACK IdleDialog(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

RECT DialogBaseUnits() {
    alignas(4) WORD words[64] = {
        1, 0xFFFF, 0, 0, 0,         0, LOWORD(DS_SETFONT), HIWORD(WS_POPUP), 0, 0, 0, 100, 100,
        0, 0,      0, 9, FW_NORMAL, 0};
    const wchar_t face[] = L"Arial";
    std::copy(std::begin(face), std::end(face), words + 19);
    HWND dialog = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(words),
                                             nullptr, IdleDialog, 0);
    RECT units{0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    DestroyWindow(dialog);
    return units;
}

void Layout(HWND main) {
    RECT window{}, client{}, work{};
    GetWindowRect(main, &window);
    GetClientRect(main, &client);
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::string controls = "[";
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        OffsetRect(&r, -origin.x, -origin.y);
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, "{\"id\":%ld,\"style\":%lu,\"exstyle\":%lu,",
                      GetWindowLongW(child, GWL_ID),
                      static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)),
                      static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE)));
        std::string item = numbers;
        item.append("\"class\":").append(JsonLine::Quote(ClassOf(child)));
        item.append(",\"text\":").append(JsonLine::Quote(TextOf(child)));
        item.append(",\"rect\":").append(RectJson(r)).append("}");
        AddItem(controls, item);
    }
    JsonLine()
        .Text("caption", TextOf(main))
        .Text("class", ClassOf(main))
        .Number("style", static_cast<DWORD>(GetWindowLongW(main, GWL_STYLE)))
        .Number("exstyle", static_cast<DWORD>(GetWindowLongW(main, GWL_EXSTYLE)))
        .Bool("visible", IsWindowVisible(main))
        .Raw("window", RectJson(window))
        .Raw("client", RectJson(client))
        .Raw("work", RectJson(work))
        .Raw("base", RectJson(DialogBaseUnits()))
        .Raw("controls", controls.append("]"));
}

LRESULT Ask(HWND main, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(main, id), message, wparam, lparam, SMTO_ABORTIFHUNG, 5000,
                        &result);
    return static_cast<LRESULT>(result);
}

std::string ChecksJson(HWND main) {
    std::string checks = "{";
    std::vector<int> ids;
    for (const BaudRateChoice& choice : kBaudRateChoices) {
        ids.push_back(choice.id);
    }
    ids.push_back(FORM1_CLEARAFTERSEND);
    for (int id : ids) {
        char item[32];
        std::snprintf(item, sizeof item, "\"%d\":%ld", id,
                      static_cast<long>(Ask(main, id, BM_GETCHECK)));
        AddItem(checks, item);
    }
    return checks.append("}");
}

void State(HWND main) {
    JsonLine()
        .Text("port", TextOf(GetDlgItem(main, FORM1_PORTNUMBER)))
        .Text("message", TextOf(GetDlgItem(main, FORM1_MESSAGE)))
        .Raw("checks", ChecksJson(main))
        .Number("range", Ask(main, FORM1_PORTUPDOWN, UDM_GETRANGE));
}

// Visible top-level windows of the process that owns `main`.
void ProcessWindows(HWND main) {
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    std::string list = "[";
    for (HWND window : TopWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process && IsWindowVisible(window)) {
            AddItem(list, JsonLine::Quote(TextOf(window)));
        }
    }
    JsonLine().Raw("windows", list.append("]"));
}

int Focused(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
    return info.hwndFocus != nullptr ? GetWindowLongW(info.hwndFocus, GWL_ID) : 0;
}

// A window of the dialog class with a static text `text`: a message box.
HWND FindMessageBox(const std::wstring& text) {
    for (HWND window : TopWindows()) {
        if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) {
            continue;
        }
        for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (ClassOf(c) == L"Static" && TextOf(c) == text) {
                return window;
            }
        }
    }
    return nullptr;
}

double UnixNow() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

// What a run of commands carries from one to the next.
struct Session {
    HWND main = nullptr;
    int focus_before_input = 0;
};

int Run(const std::wstring& name, const Args& a, Session& session) {
    HWND& main = session.main;
    const auto arg = [&a](std::size_t i) { return i < a.size() ? a[i] : std::wstring(); };
    const auto number = [&](std::size_t i) { return std::wcstol(arg(i).c_str(), nullptr, 0); };
    if (name == L"find") {
        WaitUntil([&] { return (main = FindWendle()) != nullptr; }, number(0));
        JsonLine().Bool("found", main != nullptr).Text("caption", main ? TextOf(main) : L"");
        return 0;
    }
    if (name == L"msgbox") {
        const std::wstring text = Unescape(arg(0));
        HWND box = nullptr;
        WaitUntil([&] { return (box = FindMessageBox(text)) != nullptr; }, number(1));
        JsonLine().Bool("found", box != nullptr).Text("caption", box ? TextOf(box) : L"");
        if (box != nullptr && arg(2) == L"ok") {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        return 0;
    }
    if (main == nullptr && (main = FindWendle()) == nullptr) {
        JsonLine().Text("error", L"no Wendle window");
        return 1;
    }
    if (name == L"layout") {
        Layout(main);
    } else if (name == L"state") {
        State(main);
    } else if (name == L"windows") {
        ProcessWindows(main);
    } else if (name == L"focus") {
        // Given a time, waits for the focus to move on from where the last
        // input found it or, given identifiers too, to reach one of them.
        std::vector<int> wanted;
        for (std::size_t i = 1; i < a.size(); ++i) {
            wanted.push_back(number(i));
        }
        WaitUntil(
            [&] {
                const int focus = Focused(main);
                return wanted.empty()
                           ? focus != session.focus_before_input
                           : std::find(wanted.begin(), wanted.end(), focus) != wanted.end();
            },
            number(0));
        JsonLine().Number("focus", Focused(main));
    } else if (name == L"text") {
        // Waits up to the given time for the control's text to become the one given.
        HWND control = GetDlgItem(main, number(0));
        const std::wstring wanted = Unescape(arg(1));
        WaitUntil([&] { return TextOf(control) == wanted; }, number(2));
        JsonLine().Text("text", TextOf(control));
    } else if (name == L"settext") {
        const std::wstring text = Unescape(arg(1));
        Ask(main, number(0), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        JsonLine().Text("set", text);
    } else if (name == L"setcheck") {
        Ask(main, number(0), BM_SETCHECK, number(1));
        JsonLine().Number("checked", Ask(main, number(0), BM_GETCHECK));
    } else if (name == L"click") {
        // Sent, not posted: it returns once the button has done its work.
        const double before = UnixNow();
        Ask(main, number(0), BM_CLICK);
        JsonLine().Raw("clicked", std::to_string(before));
    } else if (name == L"post") {
        HWND target = number(0) == 0 ? main : GetDlgItem(main, number(0));
        JsonLine().Bool("posted", PostMessageW(target, number(1), number(2), number(3)));
    } else if (name == L"keys") {
        session.focus_before_input = Focused(main);
        bool ok = MakeForeground(main);
        for (const std::wstring& key : a) {
            ok = PressKey(std::string(key.begin(), key.end())) && ok;
        }
        JsonLine().Bool("pressed", ok);
    } else if (name == L"mouse") {
        session.focus_before_input = Focused(main);
        MakeForeground(main);
        ClickAt(GetDlgItem(main, number(0)), std::wcstod(arg(1).c_str(), nullptr),
                std::wcstod(arg(2).c_str(), nullptr));
        JsonLine().Bool("clicked", true);
    } else {
        JsonLine().Text("error", L"unknown command " + name);
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Session session;
    int status = 0;
    for (int i = 1; i < argc;) {
        const std::wstring name = argv[i++];
        Args args;
        while (i < argc && std::wstring_view(argv[i]) != L";") {
            args.emplace_back(argv[i++]);
        }
        ++i;
        status |= Run(name, args, session);
    }
    return status;
}
