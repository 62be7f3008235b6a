#include "translator/decode.h"

#include "translator/mnemonic_table.h"
#include "translator/token.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace {

constexpr bool IsPrintable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

// A display command the decoder writes by name.
struct NamedBytes {
    std::string_view name;
    unsigned char size = 0;
    unsigned char bytes[4] = {};
};

constexpr std::size_t kMaxNamed = kMnemonicRowCount - kControlNameRows;

// The names, grouped by their first byte and longest first within a group,
// so that the first whose bytes match is the longest match.
struct NameIndex {
    NamedBytes entries[kMaxNamed];
    std::size_t count = 0;
    std::uint8_t begin[256] = {};
    std::uint8_t end[256] = {};
};

constexpr bool SameBytes(const NamedBytes& entry, const MnemonicRow& row) {
    if (entry.size != row.size) {
        return false;
    }
    for (std::size_t i = 0; i < row.size; ++i) {
        if (entry.bytes[i] != row.bytes[i]) {
            return false;
        }
    }
    return true;
}

constexpr bool ComesBefore(const NamedBytes& a, const NamedBytes& b) {
    return a.bytes[0] != b.bytes[0] ? a.bytes[0] < b.bytes[0] : a.size > b.size;
}

// Display commands only: the ASCII control names are left out, so that 1B
// alone stays <27>. Where several names give the same bytes, the first in
// table order is taken: CLS (not CLEAR or CLEAR_SCREEN, nor FF), BL_ON and
// BL_OFF, LAYERS_GRAPHICS_OFF and LAYERS_BOTH_OFF (not the ZAP_ names),
// and the KTA_ name of every KTA_/KTB_ pair.
constexpr NameIndex BuildNameIndex() {
    NameIndex index{};
    for (std::size_t r = kControlNameRows; r < kMnemonicRowCount; ++r) {
        const MnemonicRow& row = MnemonicTable[r];
        bool taken = false;
        for (std::size_t i = 0; i < index.count; ++i) {
            taken = taken || SameBytes(index.entries[i], row);
        }
        if (taken) {
            continue;
        }
        NamedBytes entry{row.names[0], row.size, {}};
        for (std::size_t i = 0; i < row.size; ++i) {
            entry.bytes[i] = row.bytes[i];
        }
        // Insertion keeps the order; a stable sort, so table order breaks ties.
        std::size_t at = index.count++;
        for (; at > 0 && ComesBefore(entry, index.entries[at - 1]); --at) {
            index.entries[at] = index.entries[at - 1];
        }
        index.entries[at] = entry;
    }
    for (std::size_t i = index.count; i-- > 0;) {
        index.begin[index.entries[i].bytes[0]] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t i = 0; i < index.count; ++i) {
        index.end[index.entries[i].bytes[0]] = static_cast<std::uint8_t>(i + 1);
    }
    return index;
}

constexpr NameIndex kNames = BuildNameIndex();

const NamedBytes* LongestName(const unsigned char* at, std::size_t left) {
    for (std::size_t i = kNames.begin[at[0]]; i < kNames.end[at[0]]; ++i) {
        const NamedBytes& entry = kNames.entries[i];
        std::size_t same = 0;
        while (same < entry.size && same < left && at[same] == entry.bytes[same]) {
            ++same;
        }
        if (same == entry.size) {
            return &entry;
        }
    }
    return nullptr;
}

// A name's bytes are scanned again after its token is replaced, so none may
// hold "<"; and a name must reach the table, not one of the special forms.
constexpr bool NamesAreSafe() {
    for (std::size_t i = 0; i < kNames.count; ++i) {
        const NamedBytes& entry = kNames.entries[i];
        for (std::size_t b = 0; b < entry.size; ++b) {
            if (entry.bytes[b] == '<') {
                return false;
            }
        }
        if (entry.name.size() < 2 || entry.name[0] == '_' || entry.name[0] == '\\' ||
            entry.name.starts_with("0X")) {
            return false;
        }
    }
    return true;
}

constexpr std::string_view NameOf(std::initializer_list<unsigned char> bytes) {
    for (std::size_t i = 0; i < kNames.count; ++i) {
        const NamedBytes& entry = kNames.entries[i];
        if (entry.size == bytes.size() && std::equal(bytes.begin(), bytes.end(), entry.bytes)) {
            return entry.name;
        }
    }
    return {};
}

static_assert(NamesAreSafe());
static_assert(kNames.count == 61);
static_assert(NameOf({0x0C}) == "CLS");
static_assert(NameOf({0x0E}) == "BL_ON");
static_assert(NameOf({0x1B, 0x59, 0x41}) == "LAYERS_GRAPHICS_OFF");
static_assert(NameOf({0x1B, 0x59, 0x43}) == "LAYERS_BOTH_OFF");
static_assert(NameOf({0xFE, 0xC0}) == "KTA_LINE2");
static_assert(NameOf({0x1B}).empty());

// The decimal digits of every byte value, built by the compiler.
struct Decimal {
    char digits[3];
    unsigned char size;
};

constexpr std::array<Decimal, 256> BuildDecimals() {
    std::array<Decimal, 256> decimals{};
    for (unsigned value = 0; value < 256; ++value) {
        Decimal& decimal = decimals[value];
        if (value >= 100) {
            decimal.digits[decimal.size++] = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            decimal.digits[decimal.size++] = static_cast<char>('0' + value / 10 % 10);
        }
        decimal.digits[decimal.size++] = static_cast<char>('0' + value % 10);
    }
    return decimals;
}

constexpr std::array<Decimal, 256> kDecimals = BuildDecimals();

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// For a "<" at `open`: the position of a ">" that closes a run of token
// characters right after it, or kNone. The run holds no "<", so the runs
// looked at for different "<" never overlap and the decoding stays linear.
std::size_t ClosingAfter(const unsigned char* bytes, std::size_t open, std::size_t size) {
    std::size_t close = open + 1;
    while (close < size && IsTokenChar(bytes[close])) {
        ++close;
    }
    return close > open + 1 && close < size && bytes[close] == '>' ? close : kNone;
}

} // namespace

void AppendDecoded(std::string_view text, bool with_names, std::string& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    // A ">" that would close a token begun by a literal "<" goes into a token.
    std::size_t held_close = kNone;
    std::size_t i = 0;
    while (i < size) {
        const std::size_t start = i;
        for (; i < size && IsPrintable(bytes[i]) && i != held_close; ++i) {
            if (bytes[i] == '<') {
                held_close = ClosingAfter(bytes, i, size);
            }
        }
        out.append(text.data() + start, i - start);
        if (i == size) {
            break;
        }
        out += '<';
        for (bool first = true; i < size && (!IsPrintable(bytes[i]) || i == held_close);
             first = false) {
            if (!first) {
                out += ',';
            }
            const NamedBytes* named = with_names ? LongestName(bytes + i, size - i) : nullptr;
            if (named != nullptr) {
                out += named->name;
                i += named->size;
            } else {
                out.append(kDecimals[bytes[i]].digits, kDecimals[bytes[i]].size);
                ++i;
            }
        }
        out += '>';
    }
}

std::string DecodeBytes(std::string_view bytes, bool with_names) {
    std::string out;
    // Room for random bytes, about three characters each, in one go.
    out.reserve(bytes.size() * 3 + 16);
    AppendDecoded(bytes, with_names, out);
    return out;
}

std::string HexPairs(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i != 0) {
            hex += ' ';
        }
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}
