// The table of names a token may hold in place of byte codes.
#pragma once

#include <cstddef>
#include <string_view>

// One row: a name, or a KTA_/KTB_ pair of names, and the bytes they give.
// A row with one name leaves the second empty.
struct MnemonicRow {
    std::string_view names[2];
    unsigned char size;
    unsigned char bytes[4];
};

inline constexpr std::size_t kMnemonicRowCount = 101;
inline constexpr std::size_t kLongestMnemonic = 21;

// The rows in search order. Constant data, built by the compiler.
extern const MnemonicRow MnemonicTable[kMnemonicRowCount];

// The row one of whose names equals `name` exactly (same length, same
// characters, case-sensitive), or nullptr.
const MnemonicRow* FindMnemonic(std::string_view name) noexcept;
