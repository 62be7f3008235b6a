#include "probe_win.h"

#include <array>
#include <vector>

namespace {

struct NamedKey {
    std::string_view name;
    WORD modifier; // 0: none
    WORD key;
};

constexpr std::array<NamedKey, 6> kKeys{{
    {"tab", 0, VK_TAB},
    {"enter", 0, VK_RETURN},
    {"escape", 0, VK_ESCAPE},
    {"up", 0, VK_UP},
    {"down", 0, VK_DOWN},
    {"alt+f4", VK_MENU, VK_F4},
}};

INPUT KeyEvent(WORD key, bool up, WORD scan = 0, DWORD flags = 0) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = scan != 0 ? scan : static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags | (up ? KEYEVENTF_KEYUP : 0);
    return input;
}

bool Send(std::vector<INPUT>& inputs) {
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(150);
    return sent == inputs.size();
}

INPUT MouseEvent(DWORD flags, LONG x = 0, LONG y = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x;
    input.mi.dy = y;
    input.mi.dwFlags = flags;
    return input;
}

} // namespace

bool MakeForeground(HWND window) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        SetForegroundWindow(window);
        if (GetForegroundWindow() == window) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

bool PressKey(std::string_view key) {
    std::vector<INPUT> inputs;
    if (key.starts_with("text:")) {
        for (char c : key.substr(5)) {
            const auto unit = static_cast<WORD>(static_cast<unsigned char>(c));
            inputs.push_back(KeyEvent(0, false, unit, KEYEVENTF_UNICODE));
            inputs.push_back(KeyEvent(0, true, unit, KEYEVENTF_UNICODE));
        }
        return Send(inputs);
    }
    for (const NamedKey& named : kKeys) {
        if (named.name != key) {
            continue;
        }
        if (named.modifier != 0) {
            inputs.push_back(KeyEvent(named.modifier, false));
        }
        inputs.push_back(KeyEvent(named.key, false));
        inputs.push_back(KeyEvent(named.key, true));
        if (named.modifier != 0) {
            inputs.push_back(KeyEvent(named.modifier, true));
        }
        return Send(inputs);
    }
    return false;
}

void ClickAt(HWND window, double fx, double fy) {
    RECT bounds{};
    GetWindowRect(window, &bounds);
    const double x = bounds.left + fx * (bounds.right - bounds.left);
    const double y = bounds.top + fy * (bounds.bottom - bounds.top);
    // Absolute coordinates run from 0 to 65535 across the primary screen.
    const auto normal = [](double v, int extent) {
        return static_cast<LONG>((v * 65536.0 + extent / 2) / extent);
    };
    std::vector<INPUT> inputs{
        MouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
                   normal(x, GetSystemMetrics(SM_CXSCREEN)),
                   normal(y, GetSystemMetrics(SM_CYSCREEN))),
        MouseEvent(MOUSEEVENTF_LEFTDOWN),
        MouseEvent(MOUSEEVENTF_LEFTUP),
    };
    Send(inputs);
}
