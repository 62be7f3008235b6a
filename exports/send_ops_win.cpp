#include "exports/send_ops.h"

#include "exports/port_table.h"
#include "exports/version.h"
#include "translator/translator.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// A write of nothing still goes to the driver, with a real buffer.
constexpr char kNoBytes[1] = {};

const char* BytesOf(BSTR text) noexcept {
    return text ? reinterpret_cast<const char*>(text) : kNoBytes;
}

void WriteString(BSTR text) noexcept {
    WriteToPort(BytesOf(text), SysStringByteLen(text));
}

template <std::size_t A, std::size_t B>
constexpr std::array<char, A + B - 2> Concatenate(const char (&a)[A], const char (&b)[B]) {
    std::array<char, A + B - 2> joined{};
    for (std::size_t i = 0; i + 1 < A; ++i) {
        joined[i] = a[i];
    }
    for (std::size_t i = 0; i + 1 < B; ++i) {
        joined[A - 1 + i] = b[i];
    }
    return joined;
}

// Deliberately v1.3 in the 1.4 program: it names the exported interface, which
// callers read and compare, and that has not changed since 1.3.
constexpr auto kVersionText = Concatenate("v1.3, 22 Oct 2012, ", kMakerAddress);

struct FreeDeleter {
    void operator()(char* p) const noexcept { std::free(p); }
};

} // namespace

void WriteToPort(const char* bytes, DWORD count) noexcept {
    HANDLE port = FindPortInSlot();
    if (port != nullptr) {
        WriteDevice(port, bytes, count);
    }
}

void SendTranslated(BSTR* variable) noexcept {
    if (variable == nullptr) {
        return;
    }
    // The translation is made in a scratch copy, so that the caller's string
    // is untouched until its replacement exists.
    const UINT length = SysStringByteLen(*variable);
    std::unique_ptr<char, FreeDeleter> scratch{
        static_cast<char*>(std::malloc(std::max<std::size_t>(length, 1)))};
    if (!scratch) {
        return;
    }
    std::memcpy(scratch.get(), BytesOf(*variable), length);
    const std::size_t translated = TranslateText(scratch.get(), length);
    BSTR replacement = SysAllocStringByteLen(scratch.get(), static_cast<UINT>(translated));
    if (replacement == nullptr) {
        return;
    }
    SysFreeString(*variable);
    *variable = replacement;
    WriteString(replacement);
}

void SendRaw(const BSTR* variable) noexcept {
    if (variable != nullptr) {
        WriteString(*variable);
    }
}

void SendTranslatedByValue(BSTR text) noexcept {
    // The string is ours now: it is translated where it stands.
    const std::size_t translated =
        text ? TranslateText(reinterpret_cast<char*>(text), SysStringByteLen(text)) : 0;
    WriteToPort(BytesOf(text), static_cast<DWORD>(translated));
    SysFreeString(text);
}

void SendRawByValue(BSTR text) noexcept {
    WriteString(text);
    SysFreeString(text);
}

BSTR VersionText() noexcept {
    return SysAllocStringByteLen(kVersionText.data(), static_cast<UINT>(kVersionText.size()));
}
