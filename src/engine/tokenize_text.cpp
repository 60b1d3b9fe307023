#include "engine/tokenize_text.h"

#include <climits>

#include "llama.h"

#include "engine/text_decoding.h"

std::vector<llama_token> tokenize_text(const llama_vocab *vocab, const std::string &text, bool add_special,
                                       bool parse_special) {
    const std::string clean = replace_invalid_utf8(text);
    // llama_tokenize counts in int32 and answers INT32_MIN when it overflows.
    if (clean.size() > static_cast<size_t>(INT32_MAX)) return {};
    const int32_t len = static_cast<int32_t>(clean.size());
    const int32_t counted = llama_tokenize(vocab, clean.data(), len, nullptr, 0, add_special, parse_special);
    if (counted == INT32_MIN) return {};
    const int32_t needed = counted < 0 ? -counted : counted;
    if (needed == 0) return {};
    std::vector<llama_token> tokens(static_cast<size_t>(needed), 0);
    const int32_t got = llama_tokenize(vocab, clean.data(), len, tokens.data(), needed, add_special, parse_special);
    if (got <= 0) return {};
    tokens.resize(static_cast<size_t>(got));
    return tokens;
}
