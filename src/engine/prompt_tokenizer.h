#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/prompt.h"

struct llama_vocab;
typedef int32_t llama_token;

// Tokenizes a Prompt so that control-token markers become control tokens only
// inside its template ranges. It splits the prompt where llama.cpp's own
// special-token pass would, in the same order and with the same whitespace
// stripping, but skips control markers that lie in inserted text; the
// stretches between splits are tokenized as plain text. A prompt whose
// inserted texts hold no marker so gets exactly the tokens of whole-string
// tokenization with special parsing.
class PromptTokenizer {
public:
    explicit PromptTokenizer(const llama_vocab *vocab);

    // Empty when the prompt gives no token.
    std::vector<llama_token> tokenize(const Prompt &prompt, bool add_special) const;

private:
    struct Marker {
        llama_token id;
        std::string text;
        bool template_only;  // a control (or unknown) token, not a user-defined one
        bool lstrip, rstrip;
    };
    struct Fragment {
        size_t begin, end;
        llama_token token;  // LLAMA_TOKEN_NULL for text
    };

    std::vector<Fragment> split(const Prompt &prompt) const;

    const llama_vocab *vocab;
    std::vector<Marker> markers;  // in the order llama.cpp matches them
};
