#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_config.h"
#include "engine/prompt.h"
#include "engine/prompt_tokenizer.h"

struct llama_model;
struct llama_context;
typedef int32_t llama_token;

// The chat model: loaded on first use, freed on request, with its tokenizer,
// the cache of the last decoded prompt and the generation loop.
class ChatModel {
public:
    // Reads the model path and sizes from config, which must outlive it.
    explicit ChatModel(const EngineConfig &config);
    ~ChatModel();
    ChatModel(const ChatModel &) = delete;
    ChatModel &operator=(const ChatModel &) = delete;

    // Loads model and context; true at once when loaded. False after logging
    // when the file does not load, cannot generate, or gets no context.
    bool load();
    // Frees model and context and empties the prompt cache; nothing when unloaded.
    void unload();
    bool loaded() const { return is_loaded; }

    // Plain-text tokens of text (markers stay text), loading the model when
    // needed; empty on failure.
    std::vector<llama_token> tokenize(const std::string &text, bool add_special);
    // The text of tokens; "" when no model is loaded (nothing is loaded).
    std::string detokenize(const std::vector<llama_token> &tokens) const;
    // Generates the answer to a finished prompt; "[ERROR] ..." texts on failure.
    std::string run(const Prompt &prompt, bool keep_loaded);
    // Tokens of prompt beyond what run() decodes whole, neither cut to the
    // prompt cap nor past half a context too small for a cap: 0 when it fits.
    // Loads the model when needed; 0 when it cannot (run() then fails whatever
    // the prompt).
    size_t prompt_excess(const Prompt &prompt);
    // Tokens of the last prompt whose decoding completed (what the memory holds).
    const std::vector<llama_token> &prompt_cache() const { return cached_prompt_tokens; }

private:
    // Decodes tokens from the first position the cache does not already hold.
    bool decode_prompt(const std::vector<llama_token> &tokens, bool keep_loaded);
    // The most prompt tokens run() decodes whole; negative for no cap.
    int64_t prompt_cap() const;
    // Samples and decodes the answer after a decoded prompt of n tokens.
    void generate_tokens(int32_t n, bool keep_loaded, std::string &answer);

    const EngineConfig &config;
    bool is_loaded = false;
    std::vector<llama_token> cached_prompt_tokens;
    llama_model *model = nullptr;
    llama_context *ctx = nullptr;
    std::unique_ptr<PromptTokenizer> prompt_tokenizer;
};
