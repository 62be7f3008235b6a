// Feeds arbitrary bytes to the in-place scanner and to the literal rebuild
// loop and stops at the first message on which they differ; the search for
// unknown names reads the same exact-size buffer first.
#include "tests/translator/naive_translate.h"
#include "translator/translator.h"
#include "translator/unknown_names.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string message(reinterpret_cast<const char*>(data), size);
    // Exactly the message's size, so that any access past it is caught.
    const std::unique_ptr<char[]> buffer(new char[size]);
    message.copy(buffer.get(), size);
    UnknownName found[4];
    const std::size_t unknown = FindUnknownNames(buffer.get(), size, found, 4);
    for (std::size_t i = 0; i < unknown && i < 4; ++i) {
        if (found[i].offset + found[i].length > size || found[i].length == 0) {
            std::abort();
        }
    }
    const std::size_t translated = TranslateText(buffer.get(), size);
    if (translated > size || std::string(buffer.get(), translated) != naive::Translate(message)) {
        std::abort();
    }
    return 0;
}
