// --png: the picture decoded back with libpng, dot by dot. The layout, in
// pixels: a dot map origin at 26,26; dot x of cell column c at
// 26 + (6c + x) * 5, dot row y of cell row r at 26 + (9r + y) * 5; dots 4 by 4.
#include "tests/support/tool_run.h"
#include "tests/support/translate_support.h"

#include <gtest/gtest.h>

#include <png.h>

#include <array>

namespace {

using Colour = std::array<unsigned char, 3>;
constexpr Colour kBezel{0x20, 0x20, 0x20};
constexpr Colour kBackground{0xA8, 0xC8, 0x3C}, kOff{0x9A, 0xB8, 0x36}, kOn{0x1E, 0x28, 0x14};

TEST(Picture, GlyphsDotByDot) {
    const struct {
        std::string message;
        unsigned row, column;
        std::array<unsigned char, 8> dots;
        std::string buffer = "80";
    } cases[] = {
        {"<KTA_LINE2>ab<UL_CURSOR>", 1, 2, {0, 0, 0, 0, 0, 0, 0, 0x1F}},
        // Display off: no cursor either, though it is on.
        {"x<UL_CURSOR><254,10>", 0, 1, {0, 0, 0, 0, 0, 0, 0, 0}},
        // The screen of a module that lost 'H' to the clear: the 'e' in its place.
        {"<CLS>He<254,12>", 0, 0, {0, 0, 0x0E, 0x11, 0x1F, 0x10, 0x0E, 0}, "0"},
    };
    const std::string png = TempFile("glyph.png");
    for (const auto& c : cases) {
        const ToolRun run = RunTool(WENDLE_DISPLAY_TOOL, {"--buffer", c.buffer, "--png", png, "-"},
                                    Translate(c.message));
        ASSERT_EQ(run.exit_code, 0) << run.err;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_file(&image, png.c_str()), 0);
        image.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
        ASSERT_EQ(std::pair(image.width, image.height), std::pair(526u, 136u));
        const auto at = [&](unsigned x, unsigned y) {
            const unsigned char* p = &rgb[(y * image.width + x) * 3];
            return Colour{p[0], p[1], p[2]};
        };
        EXPECT_EQ(at(0, 0), kBezel);
        EXPECT_EQ(at(image.width - 5, image.height / 2), kBezel);
        EXPECT_EQ(at(12, 12), kBackground);
        for (unsigned y = 0; y < 8; ++y) {
            for (unsigned x = 0; x < 5; ++x) {
                const unsigned left = 26 + (6 * c.column + x) * 5;
                const unsigned top = 26 + (9 * c.row + y) * 5;
                const Colour dot = (c.dots[y] >> (4 - x) & 1) != 0 ? kOn : kOff;
                EXPECT_EQ(at(left, top), dot) << c.message << " dot " << x << "," << y;
                EXPECT_EQ(at(left + 3, top + 3), dot) << c.message;
                EXPECT_EQ(at(left + 4, top + 4), kBackground) << c.message;
            }
        }
    }
}

} // namespace
