// The module as it looks: the screen as a map of dots (each cell's 5x8 dots,
// lit or not, with a dot's width between cells and between rows), and a
// picture of it in RGB pixels with the backlight's colours. No I/O: the
// programs write the picture out.
#pragma once

#include "display/module.h"

#include <cstddef>
#include <vector>

enum class Dot : unsigned char {
    kBackground, // between cells and rows: no dot there
    kOff,        // a dot the module does not light
    kOn,         // a lit dot
};

// The screen as dots: each cell is 5 wide and 8 high, with one blank column
// after every cell but the last and one blank row after every cell row but
// the last. The cursor is drawn in: the underline cursor lights the cell's
// eighth row, the blinking cursor every dot of its cell (the phase in which
// a real module shows the block).
struct DotMap {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<Dot> dots; // row by row, top first

    Dot At(unsigned x, unsigned y) const { return dots[std::size_t{y} * width + x]; }
};

DotMap MapDots(const Module& module);

struct Rgb {
    unsigned char red, green, blue;

    bool operator==(const Rgb&) const = default;
};

// The picture's layout, in pixels: each dot a kDotPixels square, the next dot
// kDotPitch further on (background between them), the dot map's origin kDotsOrigin
// from the picture's corner (a bezel of kBezelPixels, then background).
inline constexpr unsigned kDotPixels = 4;
inline constexpr unsigned kDotPitch = 5;
inline constexpr unsigned kBezelPixels = 10;
inline constexpr unsigned kDotsOrigin = kBezelPixels + 16;

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> rgb; // 3 bytes a pixel, row by row, top first

    Rgb At(unsigned x, unsigned y) const;
};

// The colours of the background, of a dot the module does not light and of a lit
// dot, with the backlight on or off; and the bezel's.
struct ScreenColours {
    Rgb background, off, on;
};
inline constexpr ScreenColours kBacklightOn{
    {0xA8, 0xC8, 0x3C}, {0x9A, 0xB8, 0x36}, {0x1E, 0x28, 0x14}};
inline constexpr ScreenColours kBacklightOff{
    {0x5A, 0x64, 0x40}, {0x54, 0x5E, 0x3C}, {0x1A, 0x1E, 0x14}};
inline constexpr Rgb kBezel{0x20, 0x20, 0x20};

Picture DrawPicture(const Module& module);
