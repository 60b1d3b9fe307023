#include "engine/text_decoding.h"

#include <cstdint>

namespace {

// Appends cp (at most U+10FFFF) in its shortest UTF-8 form.
void append_code_point(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The two halves of a UTF-16 surrogate pair.
bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

constexpr uint32_t kReplacementCharacter = 0xFFFD;

} // namespace

bool is_valid_utf8(const std::string &text) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        size_t len;
        if (b < 0x80) len = 1;
        else if ((b & 0xE0) == 0xC0) len = 2;
        else if ((b & 0xF0) == 0xE0) len = 3;
        else if ((b & 0xF8) == 0xF0) len = 4;
        else return false;
        if (len > n - i) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::string ensure_utf8(const std::string &text) {
    if (is_valid_utf8(text)) return text;
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) append_code_point(out, static_cast<unsigned char>(c));
    return out;
}

namespace {

// Length of the well-formed sequence at text[i], or 0 when its lead byte
// starts none; *bad is how many bytes the ill-formed prefix spans.
size_t well_formed_length(const std::string &text, size_t i, size_t *bad) {
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

} // namespace

std::string replace_invalid_utf8(const std::string &text) {
    std::string out;
    size_t i = 0, bad = 0;
    while (i < text.size()) {
        const size_t len = well_formed_length(text, i, &bad);
        if (len == 0) break;
        i += len;
    }
    if (i == text.size()) return text;

    out.reserve(text.size() + 8);
    out.append(text, 0, i);
    while (i < text.size()) {
        const size_t len = well_formed_length(text, i, &bad);
        if (len > 0) {
            out.append(text, i, len);
            i += len;
        } else {
            append_code_point(out, kReplacementCharacter);
            i += bad;
        }
    }
    return out;
}

std::string utf16_to_utf8(const char *data, std::size_t size, bool big_endian) {
    const size_t units = size / 2;
    auto unit_at = [&](size_t k) -> uint32_t {
        const auto first = static_cast<unsigned char>(data[2 * k]);
        const auto second = static_cast<unsigned char>(data[2 * k + 1]);
        return big_endian ? (uint32_t{first} << 8 | second) : (uint32_t{second} << 8 | first);
    };
    std::string out;
    out.reserve(units * 3);
    for (size_t k = 0; k < units; ++k) {
        const uint32_t u = unit_at(k);
        if (is_high_surrogate(u) && k + 1 < units && is_low_surrogate(unit_at(k + 1))) {
            const uint32_t low = unit_at(++k);
            append_code_point(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            append_code_point(out, kReplacementCharacter);
        } else {
            append_code_point(out, u);
        }
    }
    return out;
}
