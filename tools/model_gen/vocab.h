#pragma once

// The real tokenizer of a GGUF file, loaded through llama.cpp without weights.

#include <llama.h>

#include <string>
#include <vector>

namespace model_gen {

class Vocab {
public:
    explicit Vocab(const std::string &path);
    ~Vocab();
    Vocab(const Vocab &) = delete;
    Vocab &operator=(const Vocab &) = delete;

    // Plain text: no BOS/EOS added, special-token markup not parsed.
    std::vector<llama_token> tokenize(const std::string &text) const;
    std::string piece(llama_token token) const;
    int32_t size() const;
    llama_token eos() const;
    // The control token written as text (e.g. "<|end|>"); throws when text is
    // not exactly one control token of this vocabulary.
    llama_token control(const std::string &text) const;

private:
    llama_model *model = nullptr;
    const llama_vocab *vocab = nullptr;
};

} // namespace model_gen
