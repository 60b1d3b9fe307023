#pragma once

// Assembling a GGUF file: tokenizer keys copied from a vocabulary file, our own
// hyper-parameters and tensors, and a write that leaves identical files alone.

#include <ggml.h>
#include <gguf.h>

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace model_gen {

class GgufOut {
public:
    GgufOut(const std::string &arch, const std::string &name);
    ~GgufOut();
    GgufOut(const GgufOut &) = delete;
    GgufOut &operator=(const GgufOut &) = delete;

    // Every tokenizer.* key of the vocabulary file, nothing else from it.
    void copy_tokenizer(const std::string &vocab_path);

    // Keys under the architecture prefix, e.g. "context_length" -> "<arch>.context_length".
    void set_u32(const std::string &key, uint32_t value);
    void set_f32(const std::string &key, float value);
    void set_bool(const std::string &key, bool value);

    // `values` holds ne1 rows of ne0 floats (ggml order: innermost first), stored as `type`.
    void add_tensor(const std::string &name, ggml_type type, int64_t ne0, int64_t ne1,
                    const std::vector<float> &values);
    void add_filled(const std::string &name, ggml_type type, int64_t ne0, int64_t ne1, float value);

    // Writes `path` unless it already holds exactly these bytes; returns whether it wrote.
    // `check` runs on the finished temporary file and throws to reject it.
    bool write(const std::string &path,
               const std::function<void(const std::string &)> &check = nullptr) const;

private:
    std::string arch;
    gguf_context *ctx = nullptr;
    ggml_context *meta = nullptr;
    std::list<std::vector<uint8_t>> blobs; // tensor data, alive until the write
};

// The tokens and their types as stored in a vocabulary file.
struct TokenList {
    std::string model; // tokenizer.ggml.model: "bert", "llama", "gpt2", ...
    std::vector<std::string> text;
    std::vector<int32_t> type;
};
TokenList read_token_list(const std::string &vocab_path);

} // namespace model_gen
