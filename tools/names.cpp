#include "tools/names.h"

#include "translator/decode.h"
#include "translator/mnemonic_table.h"
#include "translator/unknown_names.h"

#include <cstdio>

namespace {

// Enough to see what went wrong; a message full of them gets a count.
constexpr std::size_t kNamesTold = 5;

} // namespace

std::string NameList() {
    std::string list;
    for (const MnemonicRow& row : MnemonicTable) {
        const std::string_view bytes(reinterpret_cast<const char*>(row.bytes), row.size);
        for (std::string_view name : row.names) {
            if (!name.empty()) {
                list += std::string(name) + std::string(kLongestMnemonic + 2 - name.size(), ' ') +
                        HexPairs(bytes) + "\n";
            }
        }
    }
    return list;
}

std::size_t WarnUnknownNames(const char* tool, std::string_view message, bool strict,
                             const std::string& where) {
    UnknownName found[kNamesTold];
    const std::size_t count = FindUnknownNames(message.data(), message.size(), found, kNamesTold);
    for (std::size_t i = 0; i < count && i < kNamesTold; ++i) {
        const std::string name(message.substr(found[i].offset, found[i].length));
        std::fprintf(stderr, "%s: %sunknown name %s at offset %zu %s\n", tool, where.c_str(),
                     name.c_str(), found[i].offset,
                     strict ? "(--strict): nothing sent"
                            : "sends nothing; wendle-translate --list-names shows every name");
    }
    if (count > kNamesTold) {
        std::fprintf(stderr, "%s: %s%zu more unknown names\n", tool, where.c_str(),
                     count - kNamesTold);
    }
    return count;
}
