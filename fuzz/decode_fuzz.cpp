// Feeds arbitrary bytes to the decoder and stops at the first whose message,
// with or without names, is not printable ASCII or does not translate back
// to exactly those bytes.
#include "translator/decode.h"
#include "translator/translator.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const bool with_names : {false, true}) {
        const std::string message = DecodeBytes(bytes, with_names);
        // Exactly the message's size, so that any access past it is caught.
        const std::unique_ptr<char[]> buffer(new char[message.size() + 1]);
        message.copy(buffer.get(), message.size());
        const std::size_t translated = TranslateText(buffer.get(), message.size());
        if (std::ranges::any_of(message, [](char c) { return c < 0x20 || c > 0x7E; }) ||
            std::string_view(buffer.get(), translated) != bytes) {
            std::abort();
        }
    }
    return 0;
}
