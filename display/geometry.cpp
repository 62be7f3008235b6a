#include "display/geometry.h"

#include "display/controller.h"

constexpr Geometry Geometries[kGeometryCount] = {
    // One-line screens run the controller in one-line mode: an 80-cell line.
    // A 16x1 is the common kind that shows 0x00-0x0F in one-line mode, not the
    // kind wired as 8x2 whose right half starts at 0x40.
    {"8x1", 8, 1, {0x00}, false},
    {"16x1", 16, 1, {0x00}, false},
    {"16x2", 16, 2, {0x00, 0x40}, true},
    // Four-row screens are two 40-cell lines folded in half: rows 3 and 4
    // continue rows 1 and 2 in display memory.
    {"16x4", 16, 4, {0x00, 0x40, 0x10, 0x50}, true},
    {"20x2", 20, 2, {0x00, 0x40}, true},
    {"20x4", 20, 4, {0x00, 0x40, 0x14, 0x54}, true},
    {"24x2", 24, 2, {0x00, 0x40}, true},
    {"40x2", 40, 2, {0x00, 0x40}, true},
};

namespace {

constexpr bool NameMatches(const Geometry& g) {
    unsigned columns = 0;
    unsigned rows = 0;
    std::size_t i = 0;
    for (; i < g.name.size() && g.name[i] != 'x'; ++i) {
        columns = columns * 10 + static_cast<unsigned>(g.name[i] - '0');
    }
    for (++i; i < g.name.size(); ++i) {
        rows = rows * 10 + static_cast<unsigned>(g.name[i] - '0');
    }
    return columns == g.columns && rows == g.rows;
}

// Every row lies inside one controller line of the power-on mode, and no two
// rows show the same memory.
constexpr bool RowsFitTheController(const Geometry& g) {
    if (g.rows < 1 || g.rows > kMaxRows || g.row_start[0] != 0) {
        return false;
    }
    for (unsigned r = 0; r < g.rows; ++r) {
        const unsigned start = g.row_start[r];
        const unsigned base = g.two_line ? (start & kLineTwo) : 0;
        const unsigned length = g.two_line ? kTwoLineLength : kOneLineLength;
        if ((!g.two_line && start >= kLineTwo) || start - base + g.columns > length) {
            return false;
        }
        for (unsigned other = 0; other < r; ++other) {
            const unsigned o = g.row_start[other];
            if (start < o + g.columns && o < start + g.columns) {
                return false;
            }
        }
    }
    return true;
}

constexpr bool TableIsSound() {
    for (const Geometry& g : Geometries) {
        if (!NameMatches(g) || !RowsFitTheController(g) || g.two_line != (g.rows > 1)) {
            return false;
        }
    }
    return true;
}

static_assert(TableIsSound());
static_assert(Geometries[2].name == "16x2");

bool SameName(std::string_view table_name, std::string_view name) {
    if (table_name.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i] == 'X' ? 'x' : name[i];
        if (c != table_name[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

const Geometry& DefaultGeometry() noexcept {
    return Geometries[2];
}

const Geometry* FindGeometry(std::string_view name) noexcept {
    for (const Geometry& g : Geometries) {
        if (SameName(g.name, name)) {
            return &g;
        }
    }
    return nullptr;
}
