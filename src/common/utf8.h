#pragma once

#include <cstddef>
#include <string>

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF (the
// set the Windows conversion and the tokenizers accept).

// Length of the well-formed sequence at text[i], or 0 when none starts there;
// *bad is then how many bytes the ill-formed prefix spans (at least 1).
size_t well_formed_utf8_length(const std::string &text, size_t i, size_t *bad);

// Whether the whole of text is well-formed.
bool is_well_formed_utf8(const std::string &text);
