#include "display/picture.h"

#include "display/screen.h"

namespace {

constexpr unsigned kCellPitch = kGlyphColumns + 1;
constexpr unsigned kRowPitch = kGlyphRows + 1;

void Fill(Picture& picture, unsigned left, unsigned top, unsigned size_x, unsigned size_y,
          Rgb colour) {
    for (unsigned y = top; y < top + size_y; ++y) {
        for (unsigned x = left; x < left + size_x; ++x) {
            unsigned char* pixel = &picture.rgb[(std::size_t{y} * picture.width + x) * 3];
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
        }
    }
}

} // namespace

DotMap MapDots(const Module& module) {
    const Geometry& geometry = *module.geometry;
    DotMap map;
    map.width = geometry.columns * kCellPitch - 1;
    map.height = geometry.rows * kRowPitch - 1;
    map.dots.assign(std::size_t{map.width} * map.height, Dot::kBackground);
    const std::optional<CellPosition> cursor =
        module.controller.display_on ? CursorCell(module) : std::nullopt;
    for (unsigned row = 0; row < geometry.rows; ++row) {
        for (unsigned column = 0; column < geometry.columns; ++column) {
            Glyph glyph = CellGlyph(module, row, column);
            if (cursor == CellPosition{row, column}) {
                if (module.controller.cursor_on) {
                    glyph[kGlyphRows - 1] = 0x1F;
                }
                if (module.controller.blink_on) {
                    glyph.fill(0x1F);
                }
            }
            for (unsigned y = 0; y < kGlyphRows; ++y) {
                for (unsigned x = 0; x < kGlyphColumns; ++x) {
                    const bool lit = (glyph[y] >> (kGlyphColumns - 1 - x) & 1) != 0;
                    map.dots[std::size_t{row * kRowPitch + y} * map.width + column * kCellPitch +
                             x] = lit ? Dot::kOn : Dot::kOff;
                }
            }
        }
    }
    return map;
}

Rgb Picture::At(unsigned x, unsigned y) const {
    const unsigned char* pixel = &rgb[(std::size_t{y} * width + x) * 3];
    return {pixel[0], pixel[1], pixel[2]};
}

Picture DrawPicture(const Module& module) {
    const DotMap map = MapDots(module);
    const ScreenColours& colours = module.backlight_on ? kBacklightOn : kBacklightOff;
    // The last dot ends kDotPixels after its start, not a whole pitch.
    const unsigned dots_width = map.width * kDotPitch - (kDotPitch - kDotPixels);
    const unsigned dots_height = map.height * kDotPitch - (kDotPitch - kDotPixels);
    Picture picture;
    picture.width = dots_width + 2 * kDotsOrigin;
    picture.height = dots_height + 2 * kDotsOrigin;
    picture.rgb.resize(std::size_t{picture.width} * picture.height * 3);
    Fill(picture, 0, 0, picture.width, picture.height, kBezel);
    Fill(picture, kBezelPixels, kBezelPixels, picture.width - 2 * kBezelPixels,
         picture.height - 2 * kBezelPixels, colours.background);
    for (unsigned y = 0; y < map.height; ++y) {
        for (unsigned x = 0; x < map.width; ++x) {
            const Dot dot = map.At(x, y);
            if (dot != Dot::kBackground) {
                Fill(picture, kDotsOrigin + x * kDotPitch, kDotsOrigin + y * kDotPitch, kDotPixels,
                     kDotPixels, dot == Dot::kOn ? colours.on : colours.off);
            }
        }
    }
    return picture;
}
