#pragma once

// Byte-level text conversions for document contents. They never fail on
// content: every byte sequence maps to some text.

#include <cstddef>
#include <string>

// Structural UTF-8 test: each lead byte announces 1 to 4 bytes and every
// following byte is 10xxxxxx. Overlongs, encoded surrogates, values above
// U+10FFFF and zero bytes pass on purpose; the empty text is valid.
bool is_valid_utf8(const std::string &text);

// The text itself when is_valid_utf8 holds; otherwise every byte read as
// ISO 8859-1 and written as UTF-8 (also the parts that were UTF-8 already).
std::string ensure_utf8(const std::string &text);

// A copy in which every byte sequence that is not well-formed UTF-8 (stray or
// missing continuation bytes, overlongs, surrogates, values above U+10FFFF)
// becomes U+FFFD, one per maximal ill-formed subpart. Valid text comes back
// byte for byte.
std::string replace_invalid_utf8(const std::string &text);

// UTF-16 code units (without their byte-order mark) as UTF-8. An odd last
// byte is ignored; a surrogate pair becomes its four-byte sequence and a lone
// surrogate becomes U+FFFD, so the result is always valid UTF-8.
std::string utf16_to_utf8(const char *data, std::size_t size, bool big_endian);
