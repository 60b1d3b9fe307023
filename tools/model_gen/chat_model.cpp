// Chat model: with attention and feed-forward outputs zero, the hidden state is the
// current token's embedding. Each script token owns a one-hot dimension, every other
// token shares a "rest" dimension, and the output matrix maps each dimension to the
// token that follows it in the script.

#include "gguf_out.h"
#include "model_gen.h"
#include "vocab.h"

#include <cmath>
#include <map>
#include <stdexcept>

namespace model_gen {

namespace {

constexpr int64_t kFeedForward = 32;
constexpr uint32_t kContext = 8192;
constexpr float kRmsEps = 1e-5f;
// Logit of the scripted token over all others; survives any temperature up to ~5.
constexpr double kMargin = 100.0;

std::vector<llama_token> distinct_script_tokens(const Vocab &vocab, const std::string &script) {
    std::vector<llama_token> tokens = vocab.tokenize(script);
    std::map<llama_token, size_t> seen;
    for (size_t i = 0; i < tokens.size(); ++i) {
        auto [it, fresh] = seen.emplace(tokens[i], i);
        if (!fresh)
            throw std::runtime_error("script token '" + vocab.piece(tokens[i]) + "' (id " +
                                     std::to_string(tokens[i]) + ") appears at positions " +
                                     std::to_string(it->second) + " and " + std::to_string(i) +
                                     "; every token of a script must be distinct");
    }
    return tokens;
}

} // namespace

bool make_chat_model(const ChatModelRecipe &recipe) {
    if (recipe.arch != "llama" && recipe.arch != "qwen2")
        throw std::runtime_error("unsupported architecture '" + recipe.arch + "' (use llama or qwen2)");
    if (recipe.loop && recipe.script.empty()) throw std::runtime_error("--loop needs a non-empty script");
    if (recipe.loop && !recipe.end_token.empty()) throw std::runtime_error("a looping script has no end token");

    const Vocab vocab(recipe.vocab_path);
    const std::vector<llama_token> script = distinct_script_tokens(vocab, recipe.script);
    const llama_token end = recipe.end_token.empty() ? vocab.eos() : vocab.control(recipe.end_token);
    if (end == LLAMA_TOKEN_NULL) throw std::runtime_error(recipe.vocab_path + " defines no end-of-sequence token");

    const auto n = static_cast<int64_t>(script.size());
    const int64_t rest = n;
    const int64_t n_embd = (n + 2 + 31) / 32 * 32; // quantized rows come in blocks of 32
    const int64_t n_vocab = vocab.size();

    std::vector<float> embd(static_cast<size_t>(n_vocab * n_embd), 0.0f);
    for (int64_t t = 0; t < n_vocab; ++t) embd[static_cast<size_t>(t * n_embd + rest)] = 1.0f;
    for (int64_t i = 0; i < n; ++i) {
        float *row = &embd[static_cast<size_t>(script[i] * n_embd)];
        row[rest] = 0.0f;
        row[i] = 1.0f;
    }

    // The final RMS norm scales a one-hot 1 to 1/sqrt(1/n_embd + eps).
    const auto weight = static_cast<float>(kMargin * std::sqrt(1.0 / static_cast<double>(n_embd) + kRmsEps));
    std::vector<float> output(static_cast<size_t>(n_vocab * n_embd), 0.0f);
    auto map_to = [&](int64_t dim, llama_token next) { output[static_cast<size_t>(next * n_embd + dim)] = weight; };
    if (n == 0) {
        map_to(rest, end);
    } else {
        map_to(rest, script[0]);
        for (int64_t i = 0; i + 1 < n; ++i) map_to(i, script[i + 1]);
        map_to(n - 1, recipe.loop ? script[0] : end);
    }

    GgufOut out(recipe.arch, "rag-test-chat");
    out.copy_tokenizer(recipe.vocab_path);
    out.set_u32("context_length", kContext);
    out.set_u32("embedding_length", static_cast<uint32_t>(n_embd));
    out.set_u32("feed_forward_length", kFeedForward);
    out.set_u32("block_count", 1);
    out.set_u32("attention.head_count", 1);
    out.set_u32("attention.head_count_kv", 1);
    out.set_f32("attention.layer_norm_rms_epsilon", kRmsEps);

    // Rows hold zeros and one repeated value, which Q4_0 stores exactly up to its F16 scale.
    out.add_tensor("token_embd.weight", GGML_TYPE_Q4_0, n_embd, n_vocab, embd);
    out.add_tensor("output.weight", GGML_TYPE_Q4_0, n_embd, n_vocab, output);
    out.add_filled("output_norm.weight", GGML_TYPE_F32, n_embd, 1, 1.0f);
    out.add_filled("blk.0.attn_norm.weight", GGML_TYPE_F32, n_embd, 1, 1.0f);
    for (const char *name : {"attn_q", "attn_k", "attn_v", "attn_output"})
        out.add_filled(std::string("blk.0.") + name + ".weight", GGML_TYPE_F16, n_embd, n_embd, 0.0f);
    out.add_filled("blk.0.ffn_norm.weight", GGML_TYPE_F32, n_embd, 1, 1.0f);
    out.add_filled("blk.0.ffn_gate.weight", GGML_TYPE_F16, n_embd, kFeedForward, 0.0f);
    out.add_filled("blk.0.ffn_up.weight", GGML_TYPE_F16, n_embd, kFeedForward, 0.0f);
    out.add_filled("blk.0.ffn_down.weight", GGML_TYPE_F16, kFeedForward, n_embd, 0.0f);

    return out.write(recipe.out_path, [&](const std::string &written) {
        if (Vocab(written).tokenize(recipe.script) != script)
            throw std::runtime_error("the written model tokenizes the script differently from " + recipe.vocab_path);
    });
}

} // namespace model_gen
