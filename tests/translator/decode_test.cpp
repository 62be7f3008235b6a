// The decoder: readable messages, and the way back to the very same bytes.
#include "tests/translator/test_support.h"
#include "translator/decode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace std::string_literals;

struct DecodeCase {
    std::string bytes;
    std::string_view numbers; // DecodeBytes(bytes, false)
    std::string_view names;   // DecodeBytes(bytes, true)
};

const DecodeCase kDecodeCases[] = {
    {"Hello, world ~", "Hello, world ~", "Hello, world ~"},
    {"\x0CHello", "<12>Hello", "<CLS>Hello"},
    {"\0\x7F\x80\xFF"s, "<0,127,128,255>", "<NULL,127,128,255>"},
    // The ASCII control names are no display commands.
    {"\x13\x1B", "<19,27>", "<19,27>"},
    {"\xFE\xC0", "<254,192>", "<KTA_LINE2>"},
    {"\xFE\x01\xFE\x80", "<254,1,254,128>", "<KTA_CLS>"},
    {"\xFE\x01", "<254,1>", "<KTA_PREFIX,HOME>"},
    {"\xFE\xFE\xD4", "<254,254,212>", "<KTA_PREFIX,KTA_LINE4>"},
    // Escape sequences take in their printable letters, longest first.
    {"\x1B\x59\x41", "<27>YA", "<LAYERS_GRAPHICS_OFF>"},
    {"\x1B\x5A\x42", "<27>ZB", "<ZAP_TEXT_SETTINGS>"},
    {"\x1B\x44H", "<27>DH", "<DEFINE_CHAR>H"},
    {"\x1B\x52!", "<27>R!", "<REVERSE_LINES>!"},
    {"\x1B\x1B\x4D\x40\x01", "<27,27>M@<1>", "<27,MODE_OR,HOME>"},
    // A "<" stays literal; a ">" that would close a token after it does not.
    {"<12>", "<12<62>", "<12<62>"},
    {"a<CLS>b", "a<CLS<62>b", "a<CLS<62>b"},
    {"<12>\x01", "<12<62,1>", "<12<62,HOME>"},
    {"<1\x01>", "<1<1>>", "<1<HOME>>"},
    {"<\x1B\x41>", "<<27>A>", "<<SET_ADDRESS>>"},
    {"\x01<", "<1><", "<HOME><"},
};

TEST(Decode, ReadableMessages) {
    for (const DecodeCase& c : kDecodeCases) {
        EXPECT_EQ(DecodeBytes(c.bytes, false), c.numbers) << Hex(c.bytes);
        EXPECT_EQ(DecodeBytes(c.bytes, true), c.names) << Hex(c.bytes);
        EXPECT_EQ(Hex(Translate(c.numbers)), Hex(c.bytes)) << c.numbers;
        EXPECT_EQ(Hex(Translate(c.names)), Hex(c.bytes)) << c.names;
    }
}

// Bytes of every value, with the ones that build tokens much more likely:
// long runs of "<", ">", digits, commas and letters, ESC and the prefix.
std::string RandomBytes(std::mt19937& random) {
    static constexpr std::string_view kLikely = "<<<<>>>>,,0123456789AaZz_\\\x1B\xFE\x59YR@ ";
    std::string bytes;
    const unsigned size = random() % 200;
    while (bytes.size() < size) {
        const unsigned char byte = random() % 3 == 0 ? static_cast<unsigned char>(random() % 256)
                                                     : kLikely[random() % kLikely.size()];
        bytes.append(1 + (random() % 8 == 0 ? random() % 12 : 0), static_cast<char>(byte));
    }
    return bytes;
}

// Random bytes, and the translations of random messages, come back through
// the decoder and the translator, with and without names.
TEST(Decode, RandomBytesComeBack) {
    std::mt19937 random(20250214);
    for (int i = 0; i < 5000; ++i) {
        const std::string bytes =
            i % 5 == 0 ? Translate(RandomMessage(random)) : RandomBytes(random);
        for (const bool with_names : {false, true}) {
            const std::string message = DecodeBytes(bytes, with_names);
            ASSERT_EQ(Hex(Translate(message)), Hex(bytes))
                << "names " << with_names << ", message: " << message;
        }
    }
}

} // namespace
