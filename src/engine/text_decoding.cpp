#include "engine/text_decoding.h"

#include <cstdint>

#include "common/utf8.h"

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

std::string replace_invalid_utf8(const std::string &text) {
    if (is_well_formed_utf8(text)) return text;
    std::string out;
    out.reserve(text.size() + 8);
    size_t bad = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = well_formed_utf8_length(text, i, &bad);
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
