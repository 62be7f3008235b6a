// What the probe's commands share: one JSON object per command, written to
// standard output, text helpers, and real input through SendInput, which
// takes the same road as a user's, through the target's message loop.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

class JsonLine {
  public:
    ~JsonLine() {
        std::printf("{%s}\n", body_.c_str());
        std::fflush(stdout);
    }

    JsonLine& Number(std::string_view key, long long value) {
        return Raw(key, std::to_string(value));
    }
    JsonLine& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonLine& Text(std::string_view key, std::wstring_view value) { return Raw(key, Quote(value)); }
    // A nested value already in JSON form.
    JsonLine& Raw(std::string_view key, std::string_view json) {
        if (!body_.empty()) {
            body_ += ',';
        }
        body_ += '"';
        body_ += key;
        body_ += "\":";
        body_ += json;
        return *this;
    }

    // UTF-16 text as a JSON string; every non-ASCII unit is escaped, so the
    // output needs no code page.
    static std::string Quote(std::wstring_view text) {
        std::string out = "\"";
        for (wchar_t c : text) {
            if (c == L'"' || c == L'\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            }
        }
        return out + '"';
    }

  private:
    std::string body_;
};

// Backslash escapes \r \n \t \\ and \uXXXX, so any UTF-16 text can be given.
inline std::wstring Unescape(const std::wstring& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const wchar_t code = text[++i];
        if (code == L'u' && i + 4 < text.size()) {
            out += static_cast<wchar_t>(std::wcstoul(text.substr(i + 1, 4).c_str(), nullptr, 16));
            i += 4;
        } else {
            out += code == L'r' ? L'\r' : code == L'n' ? L'\n' : code == L't' ? L'\t' : code;
        }
    }
    return out;
}

inline std::string RectJson(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

// Appends a member to a JSON array or object text that starts with its bracket.
inline void AddItem(std::string& list, const std::string& item) {
    if (list.size() > 1) {
        list += ',';
    }
    list += item;
}

// Brings the window to the foreground; true when it got there.
bool MakeForeground(HWND window);

// Presses one named key ("tab", "enter", "escape", "up", "down", "alt+f4")
// or types the characters after "text:".
bool PressKey(std::string_view key);

// Clicks the left button at a point of a window given as fractions of its
// width and height.
void ClickAt(HWND window, double fx, double fy);
