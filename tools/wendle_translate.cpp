// wendle-translate [--hex] [--] [TEXT]
//
// Translates TEXT, or all of standard input when no TEXT is given, and writes
// the resulting bytes to standard output exactly as they are. With --hex it
// writes them instead as upper-case hex pairs separated by single spaces,
// followed by a newline. "--" ends the options, for a TEXT that begins with
// "-". Exit status: 0 done, 1 input or output failed, 2 bad usage.
#include "translator/translator.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kUsageError = 2;

struct Options {
    bool hex = false;
    const char* text = nullptr;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && arg == "--hex") {
            options.hex = true;
        } else if ((!options_ended && arg.starts_with('-')) || options.text != nullptr) {
            return false;
        } else {
            options.text = argv[i];
        }
    }
    return true;
}

bool ReadAll(std::FILE* in, std::vector<char>& data) {
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        data.insert(data.end(), chunk, chunk + got);
    }
    return std::ferror(in) == 0;
}

std::string HexPairs(const char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(size * 3 + 1);
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i != 0) {
            hex += ' ';
        }
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    hex += '\n';
    return hex;
}

bool WriteAll(const char* data, std::size_t size) {
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

int Run(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs("usage: wendle-translate [--hex] [--] [TEXT]\n", stderr);
        return kUsageError;
    }
    std::vector<char> message;
    if (options.text != nullptr) {
        message.assign(options.text, options.text + std::strlen(options.text));
    } else if (!ReadAll(stdin, message)) {
        std::perror("wendle-translate: reading standard input");
        return 1;
    }
    const std::size_t size = TranslateText(message.data(), message.size());
    bool written;
    if (options.hex) {
        const std::string hex = HexPairs(message.data(), size);
        written = WriteAll(hex.data(), hex.size());
    } else {
        written = WriteAll(message.data(), size);
    }
    if (!written) {
        std::perror("wendle-translate: writing standard output");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wendle-translate: %s\n", e.what());
        return 1;
    }
}
