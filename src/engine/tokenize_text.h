#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct llama_vocab;
typedef int32_t llama_token;

// The vocabulary's tokens for text; empty when it gives none or the tokenizer
// fails. Tokenizes a copy in which ill-formed UTF-8 is replaced by U+FFFD, so
// no byte sequence can make the tokenizer throw.
std::vector<llama_token> tokenize_text(const llama_vocab *vocab, const std::string &text, bool add_special,
                                       bool parse_special);
