// Stops at the first input on which the in-place scanner and the literal
// rebuild loop differ, or a decoded message (with or without names) is not
// printable ASCII or does not translate back to the input. Buffers have
// their text's exact size.
#include "tests/support/translate_support.h"
#include "tests/translator/naive_translate.h"
#include "translator/decode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    bool sound = Translate(input) == naive::Translate(input);
    for (const bool with_names : {false, true}) {
        const std::string message = DecodeBytes(input, with_names);
        sound = sound &&
                std::ranges::all_of(message, [](char c) { return c >= 0x20 && c <= 0x7E; }) &&
                Translate(message) == input;
    }
    if (!sound) {
        std::abort();
    }
    return 0;
}
