// One JSON object per probe command, written to standard output.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

class JsonLine {
  public:
    JsonLine() = default;
    JsonLine(const JsonLine&) = delete;
    JsonLine& operator=(const JsonLine&) = delete;
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
