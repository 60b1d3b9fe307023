// Content decoding: the structural UTF-8 test, the Latin-1 fallback and the
// UTF-16 conversion, mostly as whole files read back through the engine.

#include "engine/engine.h"
#include "engine/text_decoding.h"
#include "test_support.h"

#include <sstream>

using test_support::CapturedOutput;
using test_support::TempDir;

namespace {

// "FF FE 41 00" -> the four bytes.
std::string hex(const std::string &spaced) {
    std::istringstream in(spaced);
    std::string out, pair;
    while (in >> pair) out += static_cast<char>(std::stoi(pair, nullptr, 16));
    return out;
}

std::string to_hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

// ED A0..BF: a surrogate written as if it were a character.
bool has_encoded_surrogate(const std::string &text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) == 0xED &&
            static_cast<unsigned char>(text[i + 1]) >= 0xA0)
            return true;
    return false;
}

struct FileCase {
    const char *input;
    const char *expected;
    const char *mark;  // "LE", "BE" or "" for no UTF-16 line
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << "[" << c.input << "]"; }

class DecodingThroughFiles : public ::testing::TestWithParam<FileCase> {
protected:
    EngineConfig config() const {
        EngineConfig c;
        c.data_dir = dir.str("data");
        return c;
    }
    TempDir dir;
};

} // namespace

TEST_P(DecodingThroughFiles, GivesExpectedBytesAndMarkLine) {
    const FileCase &c = GetParam();
    const std::string path = dir.str("doc.txt");
    test_support::write_file(path, hex(c.input));
    Engine engine(config());

    CapturedOutput output;
    const std::optional<std::string> text = engine.read_file_text(path);
    output.finish();

    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(to_hex(*text), c.expected);
    const std::string mark = c.mark;
    const std::string expected_out =
        mark.empty() ? "" : "[Engine] Detected UTF-16 " + mark + " file: " + path + "\n";
    EXPECT_EQ(output.out(), expected_out);
    EXPECT_EQ(output.err(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Utf16, DecodingThroughFiles,
    ::testing::Values(
        FileCase{"FF FE 41 00", "41", "LE"}, FileCase{"FE FF 00 41", "41", "BE"},
        FileCase{"FF FE", "", "LE"}, FileCase{"FF FE 41", "", "LE"}, FileCase{"FE FF", "", "BE"},
        FileCase{"FF FE 41 00 42", "41", "LE"}, FileCase{"FF FE AC 20", "E2 82 AC", "LE"},
        FileCase{"FF FE E9 00", "C3 A9", "LE"}, FileCase{"FF FE FF 07", "DF BF", "LE"},
        FileCase{"FF FE 00 08", "E0 A0 80", "LE"}, FileCase{"FE FF 20 AC", "E2 82 AC", "BE"},
        FileCase{"FF FE 00 00 41 00 00 00", "00 41 00", "LE"},
        // Surrogates: pairs combine, anything unpaired is U+FFFD.
        FileCase{"FF FE 3D D8 00 DE", "F0 9F 98 80", "LE"},
        FileCase{"FE FF D8 3D DE 00", "F0 9F 98 80", "BE"},
        FileCase{"FF FE FF DB FF DF", "F4 8F BF BF", "LE"},
        FileCase{"FF FE 00 D8 00 DC", "F0 90 80 80", "LE"},
        FileCase{"FF FE 3D D8", "EF BF BD", "LE"},
        FileCase{"FF FE 3D D8 00", "EF BF BD", "LE"},
        FileCase{"FF FE 00 DE 41 00", "EF BF BD 41", "LE"},
        FileCase{"FF FE 3D D8 41 00", "EF BF BD 41", "LE"},
        FileCase{"FF FE 3D D8 3D D8 00 DE", "EF BF BD F0 9F 98 80", "LE"},
        FileCase{"FF FE 00 DE 3D D8", "EF BF BD EF BF BD", "LE"}));

INSTANTIATE_TEST_SUITE_P(
    Utf8AndLatin1, DecodingThroughFiles,
    ::testing::Values(
        FileCase{"EF BB BF 61 62 63", "61 62 63", ""}, FileCase{"EF BB BF", "", ""},
        FileCase{"EF BB 61 62 63", "C3 AF C2 BB 61 62 63", ""},
        FileCase{"E9 74 E9", "C3 A9 74 C3 A9", ""},
        FileCase{"63 61 66 C3 A9", "63 61 66 C3 A9", ""},
        FileCase{"63 61 66 C3 A9 20 E9", "63 61 66 C3 83 C2 A9 20 C3 A9", ""},
        FileCase{"C0 80", "C0 80", ""}, FileCase{"ED A0 80", "ED A0 80", ""},
        FileCase{"F4 90 80 80", "F4 90 80 80", ""},
        FileCase{"F8 88 80 80 80", "C3 B8 C2 88 C2 80 C2 80 C2 80", ""},
        FileCase{"C3", "C3 83", ""}, FileCase{"80", "C2 80", ""},
        FileCase{"61 00 62", "61 00 62", ""},
        // A BOM followed by Latin-1 converts only what follows the mark.
        FileCase{"EF BB BF E9", "C3 A9", ""}, FileCase{"FE", "C3 BE", ""},
        FileCase{"F0 9F 98", "C3 B0 C2 9F C2 98", ""}, FileCase{"C1 BF", "C1 BF", ""},
        FileCase{"F7 BF BF BF", "F7 BF BF BF", ""}, FileCase{"E2 82 41", "C3 A2 C2 82 41", ""},
        FileCase{"BF 41", "C2 BF 41", ""}, FileCase{"FF", "C3 BF", ""}));

TEST(Utf16Test, EveryUnitPairGivesValidUtf8) {
    // All surrogate boundaries, alone and in every pairing order.
    const std::vector<unsigned> units = {0x0000, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xD800,
                                         0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    for (const unsigned a : units) {
        for (const unsigned b : units) {
            std::string bytes;
            for (const unsigned u : {a, b}) {
                bytes += static_cast<char>(u & 0xFF);
                bytes += static_cast<char>(u >> 8);
            }
            const std::string text = utf16_to_utf8(bytes.data(), bytes.size(), false);
            EXPECT_TRUE(is_valid_utf8(text)) << std::hex << a << " " << b;
            EXPECT_FALSE(has_encoded_surrogate(text)) << std::hex << a << " " << b;
        }
    }
}
