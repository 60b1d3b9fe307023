// Content decoding of whole files: UTF-16 by byte-order mark, UTF-8 kept when
// structurally valid, Latin-1 otherwise.

#include <sstream>

#include "engine/text_decoding.h"
#include "test_support.h"

namespace {

using namespace test_support;

// "FF FE 41 00" -> the four bytes.
std::string hex(const std::string &spaced) {
    std::istringstream in(spaced);
    std::string out, pair;
    while (in >> pair) out += static_cast<char>(std::stoi(pair, nullptr, 16));
    return out;
}

// Input bytes and the decoded text, in hex.
const std::pair<const char *, const char *> kCases[] = {
    // UTF-16: one- to three-byte forms, an odd last byte, the mark alone.
    {"FF FE 41 00 E9 00 AC 20", "41 C3 A9 E2 82 AC"}, {"FF FE 41 00 42", "41"}, {"FF FE", ""},
    // Pairs combine, in either byte order (both ends of the ranges); anything unpaired is U+FFFD.
    {"FE FF D8 3D DE 00", "F0 9F 98 80"}, {"FF FE FF DB FF DF", "F4 8F BF BF"},
    {"FF FE FF D7 00 E0", "ED 9F BF EE 80 80"}, {"FF FE 00 DE 3D D8", "EF BF BD EF BF BD"},
    {"FF FE 3D D8 3D D8 00 DE", "EF BF BD F0 9F 98 80"},
    // A UTF-8 mark is dropped, also before Latin-1; a partial one is Latin-1.
    {"EF BB BF E9", "C3 A9"}, {"EF BB 61", "C3 AF C2 BB 61"},
    // One invalid byte turns the whole text, valid UTF-8 included, into Latin-1.
    {"63 C3 A9 20 E9", "63 C3 83 C2 A9 20 C3 A9"}, {"80", "C2 80"}, {"F8 88 80 80 80", "C3 B8 C2 88 C2 80 C2 80 C2 80"},
    // Structurally valid forms pass: overlong, surrogate, above U+10FFFF, zero byte.
    {"C0 80", "C0 80"}, {"ED A0 80", "ED A0 80"}, {"F4 90 80 80", "F4 90 80 80"}, {"61 00 62", "61 00 62"},
};

TEST(TextDecoding, FilesDecodeToUtf8) {
    TempDir dir;
    Engine engine(engine_config(dir));
    const std::string path = dir.str("doc.txt");
    CapturedOutput quiet;
    for (const auto &[input, expected] : kCases) {
        write_file(path, hex(input));
        EXPECT_EQ(engine.read_file_text(path), std::optional<std::string>(hex(expected))) << input;
    }
}

} // namespace
