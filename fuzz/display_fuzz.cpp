// Feeds arbitrary bytes to the module model, in arbitrary chunks, on a glass
// and profile chosen by the first byte, and stops at the first state that
// breaks an invariant: the counter outside memory, the shift outside its
// line, the cursor off the glass, a screen function giving a malformed
// result, or chunked feeding ending elsewhere than feeding all at once.
#include "display/module.h"
#include "display/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckInvariants(const Module& m) {
    const Controller& c = m.controller;
    const Geometry& g = *m.geometry;
    if (c.cgram_selected) {
        Check(c.address < kCgramSize);
    } else {
        const unsigned a = c.address;
        Check(c.two_line ? a <= 0x27 || (a >= 0x40 && a <= 0x67) : a <= 0x4F);
    }
    Check(c.shift < LineLength(c));
    Check(m.pending == 0 || m.pending == kPrefixByte || m.pending == kPositionCommand);
    if (const std::optional<CellPosition> cursor = CursorCell(m)) {
        Check(cursor->row < g.rows && cursor->column < g.columns);
    }
    std::size_t lines = 0;
    for (char ch : DumpText(m)) {
        lines += ch == '\n';
    }
    Check(lines == g.rows + 1u);
    for (unsigned row = 0; row < g.rows; ++row) {
        Check(RowText(m, row).size() >= g.columns);
        for (unsigned column = 0; column < g.columns; ++column) {
            for (unsigned char dots : CellGlyph(m, row, column)) {
                Check(dots < 32);
            }
        }
    }
    Check(RecentUnmodelled(m).size() <= kUnmodelledKept);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const Geometry& geometry = Geometries[data[0] % kGeometryCount];
    const Profile profile = (data[0] & 0x80) ? Profile::kPrefixOnly : Profile::kCommand;
    std::uint32_t chunk_seed = data[1];
    const std::span<const unsigned char> stream(data + 2, size - 2);

    Module whole = MakeModule(geometry, profile);
    FeedModule(whole, stream);
    Module chunked = MakeModule(geometry, profile);
    for (std::size_t at = 0; at < stream.size();) {
        chunk_seed = chunk_seed * 1103515245u + 12345u;
        const std::size_t chunk = std::min<std::size_t>((chunk_seed >> 16) % 9, stream.size() - at);
        FeedModule(chunked, stream.subspan(at, chunk));
        at += chunk;
        CheckInvariants(chunked);
    }
    Check(chunked == whole);
    FinishModule(whole);
    CheckInvariants(whole);
    Check(whole.pending == 0 && whole.offset == stream.size());
    return 0;
}
