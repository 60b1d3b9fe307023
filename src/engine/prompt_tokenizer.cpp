#include "engine/prompt_tokenizer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "llama.h"

#include "engine/tokenize_text.h"

namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool inside_template(const std::vector<Prompt::Range> &ranges, size_t begin, size_t end) {
    for (const Prompt::Range &r : ranges)
        if (r.begin <= begin && end <= r.end) return true;
    return false;
}

} // namespace

PromptTokenizer::PromptTokenizer(const llama_vocab *v) : vocab(v) {
    constexpr int kSpecial = LLAMA_TOKEN_ATTR_CONTROL | LLAMA_TOKEN_ATTR_USER_DEFINED | LLAMA_TOKEN_ATTR_UNKNOWN;
    const int32_t n = llama_vocab_n_tokens(vocab);
    std::vector<llama_token> ids;
    for (llama_token id = 0; id < n; ++id)
        if (llama_vocab_get_attr(vocab, id) & kSpecial) ids.push_back(id);
    // Longest first, sorted exactly as llama.cpp sorts its list, so that ties
    // between equally long markers resolve the same way.
    std::sort(ids.begin(), ids.end(), [&](llama_token a, llama_token b) {
        return std::strlen(llama_vocab_get_text(vocab, a)) > std::strlen(llama_vocab_get_text(vocab, b));
    });
    for (llama_token id : ids) {
        const int attr = llama_vocab_get_attr(vocab, id);
        std::string text = llama_vocab_get_text(vocab, id);
        if (text.empty()) continue;
        markers.push_back({id, std::move(text),
                           (attr & (LLAMA_TOKEN_ATTR_CONTROL | LLAMA_TOKEN_ATTR_UNKNOWN)) != 0,
                           (attr & LLAMA_TOKEN_ATTR_LSTRIP) != 0, (attr & LLAMA_TOKEN_ATTR_RSTRIP) != 0});
    }
}

std::vector<PromptTokenizer::Fragment> PromptTokenizer::split(const Prompt &prompt) const {
    const std::string &whole = prompt.str();
    std::vector<Fragment> fragments;
    if (!whole.empty()) fragments.push_back({0, whole.size(), LLAMA_TOKEN_NULL});

    for (const Marker &m : markers) {
        std::vector<Fragment> next;
        next.reserve(fragments.size() + 2);
        for (const Fragment &f : fragments) {
            if (f.token != LLAMA_TOKEN_NULL) {
                next.push_back(f);
                continue;
            }
            size_t begin = f.begin, end = f.end, from = f.begin;
            while (begin < end) {
                const size_t at = std::string_view(whole.data(), end).find(m.text, from);
                if (at == std::string_view::npos) break;
                if (m.template_only && !inside_template(prompt.fixed_ranges(), at, at + m.text.size())) {
                    from = at + 1;
                    continue;
                }
                size_t left_end = at;
                if (m.lstrip)
                    while (left_end > begin && is_space(whole[left_end - 1])) --left_end;
                if (left_end > begin) next.push_back({begin, left_end, LLAMA_TOKEN_NULL});
                next.push_back({at, at + m.text.size(), m.id});
                begin = at + m.text.size();
                if (m.rstrip)
                    while (begin < end && is_space(whole[begin])) ++begin;
                from = begin;
            }
            if (begin < end) next.push_back({begin, end, LLAMA_TOKEN_NULL});
        }
        fragments.swap(next);
    }
    return fragments;
}

std::vector<llama_token> PromptTokenizer::tokenize(const Prompt &prompt, bool add_special) const {
    std::vector<llama_token> tokens;
    if (add_special && llama_vocab_get_add_bos(vocab)) tokens.push_back(llama_vocab_bos(vocab));
    for (const Fragment &f : split(prompt)) {
        if (f.token != LLAMA_TOKEN_NULL) {
            tokens.push_back(f.token);
            continue;
        }
        // Tokenized alone, a stretch gets the leading space a SentencePiece
        // vocabulary gives text after a control token, as in the whole string.
        const std::vector<llama_token> plain =
            tokenize_text(vocab, prompt.str().substr(f.begin, f.end - f.begin), false, false);
        tokens.insert(tokens.end(), plain.begin(), plain.end());
    }
    if (add_special && llama_vocab_get_add_eos(vocab)) tokens.push_back(llama_vocab_eos(vocab));
    return tokens;
}
