// Benchmark models: real shapes, random weights. They cost what the models a
// user installs cost per token; what they output means nothing.

#include "gguf_out.h"
#include "hash.h"
#include "model_gen.h"
#include "vocab.h"

#include <cmath>
#include <filesystem>
#include <stdexcept>

namespace model_gen {

namespace {

// Uniform in [-scale, scale], from the tensor's own seed: the same bytes on
// every machine.
std::vector<float> random_values(const std::string &tensor, int64_t count, float scale) {
    uint64_t seed = 0x62656e6368ULL;
    for (char c : tensor) seed = splitmix64(seed ^ static_cast<unsigned char>(c));
    std::vector<float> v(static_cast<size_t>(count));
    HashStream h(seed);
    for (float &x : v) x = scale * (static_cast<float>(h.next() >> 40) / 8388608.0f - 1.0f);
    return v;
}

// A weight of ne1 rows of ne0 inputs whose outputs keep unit variance.
void add_weight(GgufOut &out, const std::string &name, ggml_type type, int64_t ne0, int64_t ne1) {
    out.add_tensor(name, type, ne0, ne1, random_values(name, ne0 * ne1, std::sqrt(3.0f / static_cast<float>(ne0))));
}

} // namespace

bool make_bench_embed_model(const std::string &vocab_path, const std::string &out_path) {
    // MiniLM-L6: 6 layers, 384 wide, 12 heads, 1536 feed-forward, 512 positions.
    constexpr int64_t kEmbd = 384, kFeedForward = 1536, kContext = 512, kLayers = 6;
    const TokenList tokens = read_token_list(vocab_path);
    if (tokens.model != "bert") throw std::runtime_error(vocab_path + " is not a WordPiece (bert) vocabulary");
    const auto n_vocab = static_cast<int64_t>(tokens.text.size());

    GgufOut out("bert", "rag-bench-embed");
    out.copy_tokenizer(vocab_path);
    out.set_u32("context_length", kContext);
    out.set_u32("embedding_length", kEmbd);
    out.set_u32("feed_forward_length", kFeedForward);
    out.set_u32("block_count", kLayers);
    out.set_u32("attention.head_count", 12);
    out.set_f32("attention.layer_norm_epsilon", 1e-12f);
    out.set_bool("attention.causal", false);
    out.set_u32("pooling_type", 1);  // mean

    out.add_tensor("token_embd.weight", GGML_TYPE_F16, kEmbd, n_vocab, random_values("tok", kEmbd * n_vocab, 1.0f));
    out.add_filled("token_types.weight", GGML_TYPE_F32, kEmbd, 2, 0.0f);
    out.add_tensor("position_embd.weight", GGML_TYPE_F16, kEmbd, kContext, random_values("pos", kEmbd * kContext, 0.1f));
    out.add_filled("token_embd_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
    out.add_filled("token_embd_norm.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
    for (int64_t i = 0; i < kLayers; ++i) {
        const std::string blk = "blk." + std::to_string(i) + ".";
        for (const char *name : {"attn_q", "attn_k", "attn_v", "attn_output"}) {
            add_weight(out, blk + name + ".weight", GGML_TYPE_F16, kEmbd, kEmbd);
            out.add_filled(blk + name + ".bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
        }
        out.add_filled(blk + "attn_output_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
        out.add_filled(blk + "attn_output_norm.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
        add_weight(out, blk + "ffn_up.weight", GGML_TYPE_F16, kEmbd, kFeedForward);
        out.add_filled(blk + "ffn_up.bias", GGML_TYPE_F32, kFeedForward, 1, 0.0f);
        add_weight(out, blk + "ffn_down.weight", GGML_TYPE_F16, kFeedForward, kEmbd);
        out.add_filled(blk + "ffn_down.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
        out.add_filled(blk + "layer_output_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
        out.add_filled(blk + "layer_output_norm.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
    }
    return out.write(out_path);
}

bool make_bench_chat_model(const std::string &vocab_path, const std::string &out_path) {
    // Qwen2-0.5B: 24 layers, 896 wide, 14 query and 2 key-value heads, 4864
    // feed-forward; weights in Q8_0, as such models are commonly shipped.
    constexpr int64_t kEmbd = 896, kFeedForward = 4864, kLayers = 24, kKeyValue = 128;
    // One hidden dimension carries a constant that no layer writes to, and the
    // output reads only it, for the end-of-sequence token: every answer is empty,
    // so a generation call times the prompt and one sample, not 2048 tokens of noise.
    constexpr int64_t kConstantDim = 0;
    const Vocab vocab(vocab_path);
    const llama_token eos = vocab.eos();
    if (eos == LLAMA_TOKEN_NULL) throw std::runtime_error(vocab_path + " defines no end-of-sequence token");
    const int64_t n_vocab = vocab.size();

    GgufOut out("qwen2", "rag-bench-chat");
    out.copy_tokenizer(vocab_path);
    out.set_u32("context_length", 32768);
    out.set_u32("embedding_length", kEmbd);
    out.set_u32("feed_forward_length", kFeedForward);
    out.set_u32("block_count", kLayers);
    out.set_u32("attention.head_count", 14);
    out.set_u32("attention.head_count_kv", 2);
    out.set_f32("attention.layer_norm_rms_epsilon", 1e-6f);
    out.set_f32("rope.freq_base", 1000000.0f);

    std::vector<float> embd = random_values("tok", kEmbd * n_vocab, 1.0f);
    for (int64_t t = 0; t < n_vocab; ++t) embd[static_cast<size_t>(t * kEmbd + kConstantDim)] = 4.0f;
    out.add_tensor("token_embd.weight", GGML_TYPE_Q8_0, kEmbd, n_vocab, embd);
    embd.assign(embd.size(), 0.0f);
    embd[static_cast<size_t>(eos * kEmbd + kConstantDim)] = 100.0f;
    out.add_tensor("output.weight", GGML_TYPE_Q8_0, kEmbd, n_vocab, embd);
    embd = {};
    out.add_filled("output_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);

    auto add_keeping_constant = [&](const std::string &name, int64_t ne0) {
        std::vector<float> w = random_values(name, ne0 * kEmbd, std::sqrt(3.0f / static_cast<float>(ne0)));
        std::fill(w.begin() + kConstantDim * ne0, w.begin() + (kConstantDim + 1) * ne0, 0.0f);
        out.add_tensor(name, GGML_TYPE_Q8_0, ne0, kEmbd, w);
    };
    for (int64_t i = 0; i < kLayers; ++i) {
        const std::string blk = "blk." + std::to_string(i) + ".";
        out.add_filled(blk + "attn_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
        add_weight(out, blk + "attn_q.weight", GGML_TYPE_Q8_0, kEmbd, kEmbd);
        add_weight(out, blk + "attn_k.weight", GGML_TYPE_Q8_0, kEmbd, kKeyValue);
        add_weight(out, blk + "attn_v.weight", GGML_TYPE_Q8_0, kEmbd, kKeyValue);
        add_keeping_constant(blk + "attn_output.weight", kEmbd);
        out.add_filled(blk + "ffn_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
        add_weight(out, blk + "ffn_gate.weight", GGML_TYPE_Q8_0, kEmbd, kFeedForward);
        add_weight(out, blk + "ffn_up.weight", GGML_TYPE_Q8_0, kEmbd, kFeedForward);
        add_keeping_constant(blk + "ffn_down.weight", kFeedForward);
    }
    return out.write(out_path);
}

void make_bench_set(const std::string &vocab_dir, const std::string &out_dir, std::ostream &log) {
    namespace fs = std::filesystem;
    fs::create_directories(out_dir);
    const fs::path vocab(vocab_dir), out(out_dir);
    const fs::path embed = out / "bench-embed-minilm.gguf", chat = out / "bench-chat-qwen2.gguf";
    auto report = [&](const fs::path &file, bool written) {
        log << (written ? "wrote     " : "unchanged ") << file.string() << "\n";
    };
    report(embed, make_bench_embed_model((vocab / "ggml-vocab-bert-bge.gguf").string(), embed.string()));
    report(chat, make_bench_chat_model((vocab / "ggml-vocab-qwen2.gguf").string(), chat.string()));
}

} // namespace model_gen
