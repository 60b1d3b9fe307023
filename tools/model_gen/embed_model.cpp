// Embedding model: every token's output is its own ±1 row, so the mean-pooled vector
// is a bag-of-words random projection in which shared content words dominate.

#include "gguf_out.h"
#include "hash.h"
#include "model_gen.h"

#include <cctype>
#include <cstring>
#include <set>
#include <stdexcept>
#include <utility>

namespace model_gen {

namespace {

constexpr int64_t kEmbd = 384;
constexpr int64_t kFeedForward = 32;
constexpr int64_t kContext = 512; // BERT aborts on positions past its trained context
constexpr uint32_t kHeads = 12;
constexpr uint64_t kRowSeed = 0x7261672d656d6264ULL;
// Keeps a text of stop words alone from pooling to a zero vector.
constexpr float kOutputBias = 0.05f;

// As the WordPiece normaliser leaves them: lower case, accents stripped ("é" is "e").
const std::set<std::string> &stop_words() {
    static const std::set<std::string> words = {
        "o", "a", "os", "as", "de", "do", "da", "dos", "das", "e", "em", "no", "na", "nos",
        "nas", "um", "uma", "uns", "umas", "que", "para", "por", "com", "se", "ao", "aos",
        "pelo", "pela", "mas", "ou", "como", "mais", "foi", "ser", "sao", "este", "esta",
        "isso", "seu", "sua", "ja", "ha", "the", "of", "and", "to", "in", "is", "it", "an",
        "that", "this", "for", "on", "with", "are", "was", "be", "by", "at", "or", "from"};
    return words;
}

// Punctuation code points outside ASCII that show up in Portuguese and English text.
bool is_punct_cp(uint32_t cp) {
    if (cp < 0x80) return std::ispunct(static_cast<int>(cp)) != 0;
    return cp == 0xA1 || cp == 0xAB || cp == 0xB7 || cp == 0xBB || cp == 0xBF ||
           (cp >= 0x2010 && cp <= 0x2027) || (cp >= 0x2030 && cp <= 0x205E);
}

// The GGUF WordPiece list marks word starts with U+2581 instead of marking
// continuations with "##".
constexpr const char *kWordStart = "\xE2\x96\x81";

bool is_pure_punctuation(const std::string &s) {
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + len > s.size()) return false;
        uint32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (!is_punct_cp(cp)) return false;
        i += len;
    }
    return true;
}

bool carries_content(const std::string &token, int32_t type) {
    constexpr int32_t kNormal = 1;
    if (type != kNormal) return false;
    const bool word_start = token.rfind(kWordStart, 0) == 0;
    const std::string bare = word_start ? token.substr(std::strlen(kWordStart)) : token;
    return !is_pure_punctuation(bare) && !(word_start && stop_words().count(bare));
}

// Exactly half +1 and half -1: mean 0 and variance 1, which the layer norms leave as is.
void write_balanced_row(uint64_t token, float *row) {
    for (int64_t i = 0; i < kEmbd; ++i) row[i] = i < kEmbd / 2 ? 1.0f : -1.0f;
    HashStream h(hash_index(kRowSeed, token));
    for (int64_t i = kEmbd - 1; i > 0; --i) std::swap(row[i], row[h.below(static_cast<uint64_t>(i) + 1)]);
}

} // namespace

bool make_embed_model(const std::string &vocab_path, const std::string &out_path) {
    const TokenList tokens = read_token_list(vocab_path);
    if (tokens.model != "bert")
        throw std::runtime_error(vocab_path + " is not a WordPiece (bert) vocabulary");
    const auto n_vocab = static_cast<int64_t>(tokens.text.size());

    std::vector<float> embd(static_cast<size_t>(n_vocab * kEmbd), 0.0f);
    for (int64_t t = 0; t < n_vocab; ++t)
        if (carries_content(tokens.text[t], tokens.type[t]))
            write_balanced_row(static_cast<uint64_t>(t), &embd[static_cast<size_t>(t * kEmbd)]);

    GgufOut out("bert", "rag-test-embed");
    out.copy_tokenizer(vocab_path);
    out.set_u32("context_length", kContext);
    out.set_u32("embedding_length", kEmbd);
    out.set_u32("feed_forward_length", kFeedForward);
    out.set_u32("block_count", 1);
    out.set_u32("attention.head_count", kHeads);
    out.set_f32("attention.layer_norm_epsilon", 1e-12f);
    out.set_bool("attention.causal", false);
    out.set_u32("pooling_type", 1); // mean

    // ±1 and 0 are exact in F16, at half the size of F32.
    out.add_tensor("token_embd.weight", GGML_TYPE_F16, kEmbd, n_vocab, embd);
    out.add_filled("token_types.weight", GGML_TYPE_F32, kEmbd, 2, 0.0f);
    out.add_filled("position_embd.weight", GGML_TYPE_F16, kEmbd, kContext, 0.0f);
    out.add_filled("token_embd_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
    out.add_filled("token_embd_norm.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
    // Zero attention and feed-forward: each token passes through on its own.
    for (const char *name : {"attn_q", "attn_k", "attn_v", "attn_output"})
        out.add_filled(std::string("blk.0.") + name + ".weight", GGML_TYPE_F16, kEmbd, kEmbd, 0.0f);
    out.add_filled("blk.0.attn_output_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
    out.add_filled("blk.0.attn_output_norm.bias", GGML_TYPE_F32, kEmbd, 1, 0.0f);
    out.add_filled("blk.0.ffn_up.weight", GGML_TYPE_F16, kEmbd, kFeedForward, 0.0f);
    out.add_filled("blk.0.ffn_down.weight", GGML_TYPE_F16, kFeedForward, kEmbd, 0.0f);
    out.add_filled("blk.0.layer_output_norm.weight", GGML_TYPE_F32, kEmbd, 1, 1.0f);
    out.add_filled("blk.0.layer_output_norm.bias", GGML_TYPE_F32, kEmbd, 1, kOutputBias);
    return out.write(out_path);
}

} // namespace model_gen
