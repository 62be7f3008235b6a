#include "translator/mnemonic_table.h"

namespace {

constexpr bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

constexpr bool IsWellFormed(std::string_view name) {
    if (name.size() < 2 || name.size() > kLongestMnemonic) {
        return false;
    }
    for (char c : name) {
        if (!IsNameChar(c)) {
            return false;
        }
    }
    return true;
}

constexpr std::size_t CountNames() {
    std::size_t count = 0;
    for (const MnemonicRow& row : MnemonicTable) {
        count += row.names[1].empty() ? 1 : 2;
    }
    return count;
}

// The scanner translates in place, so a name may not give more bytes than it
// has characters; that also keeps every replacement shorter than its token,
// which is what makes the scan end.
constexpr bool RowsAreSound() {
    for (const MnemonicRow& row : MnemonicTable) {
        if (row.size < 1 || row.size > sizeof row.bytes || !IsWellFormed(row.names[0]) ||
            row.size > row.names[0].size()) {
            return false;
        }
        if (!row.names[1].empty() &&
            (!IsWellFormed(row.names[1]) || row.size > row.names[1].size())) {
            return false;
        }
    }
    return true;
}

constexpr std::size_t Occurrences(std::string_view name) {
    std::size_t count = 0;
    for (const MnemonicRow& row : MnemonicTable) {
        count += (row.names[0] == name) + (row.names[1] == name);
    }
    return count;
}

constexpr bool NamesAreUnique() {
    for (const MnemonicRow& row : MnemonicTable) {
        if (Occurrences(row.names[0]) != 1 ||
            (!row.names[1].empty() && Occurrences(row.names[1]) != 1)) {
            return false;
        }
    }
    return true;
}

// The decoder takes its names from the rows after the control names.
constexpr bool ControlNamesComeFirst() {
    for (std::size_t i = 0; i < kControlNameRows; ++i) {
        const MnemonicRow& row = MnemonicTable[i];
        if (row.size != 1 || row.bytes[0] != i || !row.names[1].empty()) {
            return false;
        }
    }
    return MnemonicTable[kControlNameRows].names[0] == "NULL";
}

constexpr std::size_t kNameCount = 116;
static_assert(CountNames() == kNameCount);
static_assert(RowsAreSound());
static_assert(NamesAreUnique());
static_assert(ControlNamesComeFirst());

// Every name as row * 2 + position in the row, grouped by length and in
// search order within each length, built by the compiler. Only names of the
// right length are compared; since names are unique, the one found is the one
// the ordered search over the whole table would find.
struct NamesByLength {
    unsigned char names[kNameCount];
    unsigned char first[kLongestMnemonic + 2]; // names of length n: [first[n], first[n + 1])
};

constexpr NamesByLength IndexByLength() {
    NamesByLength index{};
    std::size_t at = 0;
    for (std::size_t length = 0; length <= kLongestMnemonic; ++length) {
        index.first[length] = static_cast<unsigned char>(at);
        for (std::size_t i = 0; i < kMnemonicRowCount * 2; ++i) {
            if (MnemonicTable[i / 2].names[i % 2].size() == length && length != 0) {
                index.names[at++] = static_cast<unsigned char>(i);
            }
        }
    }
    index.first[kLongestMnemonic + 1] = static_cast<unsigned char>(at);
    return index;
}

constexpr NamesByLength kByLength = IndexByLength();

} // namespace

const MnemonicRow* FindMnemonic(std::string_view name) noexcept {
    if (name.empty() || name.size() > kLongestMnemonic) {
        return nullptr;
    }
    for (std::size_t i = kByLength.first[name.size()]; i < kByLength.first[name.size() + 1]; ++i) {
        const MnemonicRow& row = MnemonicTable[kByLength.names[i] / 2];
        if (row.names[kByLength.names[i] % 2] == name) {
            return &row;
        }
    }
    return nullptr;
}
