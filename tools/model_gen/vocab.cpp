#include "vocab.h"

#include <stdexcept>

namespace model_gen {

Vocab::Vocab(const std::string &path) {
    llama_backend_init();
    llama_model_params params = llama_model_default_params();
    params.vocab_only = true;
    model = llama_model_load_from_file(path.c_str(), params);
    if (!model) throw std::runtime_error("cannot load the vocabulary of " + path);
    vocab = llama_model_get_vocab(model);
}

Vocab::~Vocab() { llama_model_free(model); }

std::vector<llama_token> Vocab::tokenize(const std::string &text) const {
    const auto len = static_cast<int32_t>(text.size());
    std::vector<llama_token> out(text.size() + 8);
    int32_t n = llama_tokenize(vocab, text.data(), len, out.data(), static_cast<int32_t>(out.size()), false, false);
    if (n < 0) {
        out.resize(static_cast<size_t>(-n));
        n = llama_tokenize(vocab, text.data(), len, out.data(), static_cast<int32_t>(out.size()), false, false);
    }
    if (n < 0) throw std::runtime_error("tokenization failed");
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Vocab::piece(llama_token token) const {
    std::string out(32, '\0');
    int32_t n = llama_token_to_piece(vocab, token, out.data(), static_cast<int32_t>(out.size()), 0, false);
    if (n < 0) {
        out.resize(static_cast<size_t>(-n));
        n = llama_token_to_piece(vocab, token, out.data(), static_cast<int32_t>(out.size()), 0, false);
    }
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

int32_t Vocab::size() const { return llama_vocab_n_tokens(vocab); }

llama_token Vocab::eos() const { return llama_vocab_eos(vocab); }

llama_token Vocab::control(const std::string &text) const {
    llama_token out[2];
    const int32_t n = llama_tokenize(vocab, text.data(), static_cast<int32_t>(text.size()), out, 2, false, true);
    if (n != 1 || !llama_vocab_is_control(vocab, out[0]))
        throw std::runtime_error("'" + text + "' is not a control token of this vocabulary");
    return out[0];
}

} // namespace model_gen
