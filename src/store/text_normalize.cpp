#include "store/text_normalize.h"

namespace {

// The ASCII punctuation set of the "C" locale's ispunct, fixed here so the
// result does not depend on the process locale.
bool is_ascii_punct(unsigned char c) {
    return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

} // namespace

std::string normalize_text(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        // "3,5" and "O'Brien" stay single words.
        if (c == '.' || c == ',' || c == '\'') continue;
        if (c >= 0x80) {
            out.push_back(ch);
        } else if (is_ascii_punct(c)) {
            out.push_back(' ');
        } else if (c >= 'A' && c <= 'Z') {
            out.push_back(static_cast<char>(c - 'A' + 'a'));
        } else {
            out.push_back(ch);
        }
    }
    return out;
}
