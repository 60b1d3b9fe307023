#include "common/utf8.h"

size_t well_formed_utf8_length(const std::string &text, size_t i, size_t *bad) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = at(i);
    *bad = 1;
    if (b < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;       // overlong
        else if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;       // overlong
        else if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if (i + k >= text.size()) return 0;
        const unsigned char c = at(i + k);
        if (k == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) return 0;
        *bad = k + 1;
    }
    return len;
}

bool is_well_formed_utf8(const std::string &text) {
    size_t bad = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = well_formed_utf8_length(text, i, &bad);
        if (len == 0) return false;
        i += len;
    }
    return true;
}
