// Any bytes on a screen and profile chosen by the first byte, fed whole and
// in chunks sized from the second: no state breaks an invariant, and both
// feedings end alike. Timed (line, oscillator and buffer from the second
// byte), chunks read at one moment give what one read gives.
#include "display/module.h"
#include "display/screen.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

bool Sound(const Module& m) {
    const Controller& c = m.controller;
    const unsigned a = c.address;
    const std::optional<CellPosition> cursor = CursorCell(m);
    return (c.cgram_selected ? a < kCgramSize
                             : (c.two_line ? a <= 0x27 || (a >= 0x40 && a <= 0x67) : a <= 0x4F)) &&
           c.shift < LineLength(c) &&
           (m.pending == 0 || m.pending == kPrefixByte || m.pending == kPositionCommand) &&
           (!cursor || (cursor->row < m.geometry->rows && cursor->column < m.geometry->columns)) &&
           std::ranges::count(DumpText(m), '\n') == m.geometry->rows + 1 &&
           RecentUnmodelled(m).size() <= kReportsKept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const Geometry& geometry = Geometries[data[0] % kGeometryCount];
    const Profile profile = (data[0] & 0x80) ? Profile::kPrefixOnly : Profile::kCommand;
    const std::span<const unsigned char> stream(data + 2, size - 2);
    constexpr std::uint32_t kBauds[] = {1200, 9600, 38400, 115200, 1'000'000};
    constexpr unsigned kBuffers[] = {0, 1, 3, 80};
    const LineFrame frame{kBauds[data[1] % 5], static_cast<unsigned char>(7 + (data[1] >> 7)),
                          (data[1] & 0x40) ? 'E' : 'N', 1};
    const ModuleTiming timing{(data[1] & 0x20) ? 190u : 270u, kBuffers[(data[1] >> 3) & 3]};
    Module whole = MakeModule(geometry, profile), chunked = whole;
    Module timed = MakeModule(geometry, profile, timing);
    SetModuleLine(timed, frame);
    Module timed_chunked = timed;
    FeedModule(whole, stream);
    FeedModuleAt(timed, 0, stream);
    bool sound = true;
    std::uint32_t seed = data[1];
    for (std::size_t at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t chunk = std::min<std::size_t>((seed >> 16) % 9, stream.size() - at);
        FeedModule(chunked, stream.subspan(at, chunk));
        FeedModuleAt(timed_chunked, 0, stream.subspan(at, chunk));
        at += chunk;
        sound = sound && Sound(chunked) && Sound(timed_chunked);
    }
    timed_chunked.time.wire = timed.time.wire; // each read starts its burst afresh, at equal times
    sound = sound && chunked == whole && timed_chunked == timed;
    FinishModule(whole);
    if (!sound || !Sound(whole) || whole.pending != 0 || whole.offset != stream.size()) {
        std::abort();
    }
    return 0;
}
