#include "engine/chat_model.h"

#include <algorithm>
#include <locale>
#include <sstream>

#include "llama-cpp.h"
#include "llama.h"

#include "common/log.h"
#include "engine/model_loading.h"
#include "engine/stop_strings.h"
#include "engine/tokenize_text.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kPromptReserveTokens = 512;
// When a prompt is cut, this many tokens of its end survive: every prompt ends
// with the question and the assistant header, and a question of a couple of
// hundred tokens plus those headers fits.
constexpr int32_t kPromptTailTokens = 256;
constexpr int32_t kMaxGeneratedTokens = 2048;
constexpr size_t kAnswerReserveBytes = 2048;
constexpr int32_t kRunPieceBytes = 256;
constexpr int32_t kDetokenizePieceBytes = 128;
constexpr float kKeepLoadedTemperature = 0.1f;
constexpr uint32_t kSamplerSeed = 42;

// Keeps the head and the tail of an over-long prompt so the question and the
// assistant header still reach the model.
void cap_prompt(std::vector<llama_token> &tokens, int32_t cap) {
    const int32_t tail = std::min(kPromptTailTokens, cap / 2);
    const int32_t head = cap - tail;
    tokens.erase(tokens.begin() + head, tokens.end() - tail);
}

// The loop decodes one causal sequence and samples from its logits. A model
// without a vocabulary or a decoder, one that needs an encoder pass first, or
// one that attends both ways (an embedding encoder) cannot answer, and
// llama.cpp aborts or hangs when it is made to.
bool can_generate(const llama_model *model) {
    const llama_vocab *vocab = llama_model_get_vocab(model);
    if (llama_vocab_type(vocab) == LLAMA_VOCAB_TYPE_NONE || llama_vocab_n_tokens(vocab) <= 0) return false;
    if (!llama_model_has_decoder(model) || llama_model_has_encoder(model) || llama_model_is_diffusion(model))
        return false;
    char value[64];
    if (llama_model_meta_val_str(model, "general.architecture", value, sizeof value) < 0) return false;
    const std::string causal_key = std::string(value) + ".attention.causal";
    return !(llama_model_meta_val_str(model, causal_key.c_str(), value, sizeof value) >= 0 &&
             std::string(value) == "false");
}

// Frees a llama_batch on every way out, exceptions included.
class Batch {
public:
    explicit Batch(int32_t capacity) : batch(llama_batch_init(capacity, 0, 1)) {}
    ~Batch() { llama_batch_free(batch); }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;
    llama_batch &get() { return batch; }

private:
    llama_batch batch;
};

size_t common_prefix(const std::vector<llama_token> &a, const std::vector<llama_token> &b) {
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

} // namespace

ChatModel::ChatModel(const EngineConfig &cfg) : config(cfg) {}

ChatModel::~ChatModel() { unload(); }

bool ChatModel::load() {
    if (is_loaded) return true;
    log_stdout("[Engine] [LAZY LOAD] Loading LLM: " + config.llm_model_path + "\n");

    llama_model *loaded_model = model_loading::load_on_cpu(config.llm_model_path);
    if (loaded_model && !can_generate(loaded_model)) {
        llama_model_free(loaded_model);
        loaded_model = nullptr;
    }
    if (!loaded_model) {
        log_stderr("[Engine] LLM load failed: " + config.llm_model_path + "\n");
        return false;
    }
    model = loaded_model;

    ctx = model_loading::new_context(model, static_cast<uint32_t>(config.n_ctx),
                                     static_cast<uint32_t>(config.n_batch), config.n_threads, false);
    if (!ctx) {
        log_stderr("[Engine] Failed to create LLM context\n");
        model_loading::free_model(ctx, model);
        return false;
    }
    prompt_tokenizer = std::make_unique<PromptTokenizer>(llama_model_get_vocab(model));
    is_loaded = true;

    std::ostringstream estimate;
    estimate.imbue(std::locale::classic());  // "0.488281" whatever the host's locale
    estimate << static_cast<double>(config.n_ctx) * 0.5 / 1024;
    log_stdout("[Engine] LLM loaded in RAM (peak ~" + estimate.str() + " GB estimated)\n");
    return true;
}

void ChatModel::unload() {
    if (!is_loaded) return;
    prompt_tokenizer.reset();
    model_loading::free_model(ctx, model);
    cached_prompt_tokens.clear();
    is_loaded = false;
    platform::release_free_heap();
    log_stdout("[Engine] [LAZY UNLOAD] LLM freed. RAM restored.\n");
}

std::vector<llama_token> ChatModel::tokenize(const std::string &text, bool add_special) {
    if (!model && !load()) return {};
    return tokenize_text(llama_model_get_vocab(model), text, add_special, false);
}

std::string ChatModel::detokenize(const std::vector<llama_token> &tokens) const {
    if (!model) return "";
    const llama_vocab *vocab = llama_model_get_vocab(model);
    std::string text;
    char piece[kDetokenizePieceBytes];
    for (llama_token t : tokens) {
        const int32_t k = llama_token_to_piece(vocab, t, piece, kDetokenizePieceBytes, 0, false);
        if (k > 0) text.append(piece, static_cast<size_t>(k));
    }
    return text;
}

std::string ChatModel::run(const Prompt &prompt, bool keep_loaded) {
    if (!model && !load()) return "[ERROR] Failed to load LLM. Check model path: " + config.llm_model_path;

    std::vector<llama_token> tokens = prompt_tokenizer->tokenize(prompt, true);
    const int64_t cap = prompt_cap();
    if (!tokens.empty() && cap >= 0 && static_cast<int64_t>(tokens.size()) > cap) {
        cap_prompt(tokens, static_cast<int32_t>(cap));
        log_stderr("[Engine] Prompt truncated to " + std::to_string(cap) + " tokens\n");
    }
    // Sampling needs logits from at least one decoded prompt token.
    if (tokens.empty()) {
        if (!keep_loaded) unload();
        return "[ERROR] Tokenization failed";
    }
    if (!decode_prompt(tokens, keep_loaded)) return "[ERROR] Inference failed";
    cached_prompt_tokens = tokens;

    std::string answer;
    answer.reserve(kAnswerReserveBytes);
    generate_tokens(static_cast<int32_t>(tokens.size()), keep_loaded, answer);
    if (!keep_loaded) unload();
    return answer;
}

int64_t ChatModel::prompt_cap() const { return static_cast<int64_t>(config.n_ctx) - kPromptReserveTokens; }

size_t ChatModel::prompt_excess(const Prompt &prompt) {
    if (!model && !load()) return 0;
    // With no cap the context itself is the limit, and half of it is left to
    // the answer: a prompt that fills it leaves room for one token only.
    const int64_t cap = prompt_cap();
    const auto room = static_cast<size_t>(cap >= 0 ? std::min<int64_t>(cap, llama_n_ctx(ctx)) : llama_n_ctx(ctx) / 2);
    const size_t n = prompt_tokenizer->tokenize(prompt, true).size();
    return n > room ? n - room : 0;
}

bool ChatModel::decode_prompt(const std::vector<llama_token> &tokens, bool keep_loaded) {
    const int32_t n = static_cast<int32_t>(tokens.size());
    // llama.cpp aborts on more positions than the context holds, or on a batch
    // above its own batch size (which a small context lowers).
    if (static_cast<uint32_t>(n) > llama_n_ctx(ctx)) {
        log_stderr("[Engine] Prompt of " + std::to_string(n) + " tokens does not fit the context of " +
                   std::to_string(llama_n_ctx(ctx)) + " tokens\n");
        if (!keep_loaded) unload();
        return false;
    }
    const int32_t batch_size = static_cast<int32_t>(std::max<uint32_t>(1, llama_n_batch(ctx)));

    llama_memory_t memory = llama_get_memory(ctx);
    int32_t reused = static_cast<int32_t>(std::min<size_t>(common_prefix(tokens, cached_prompt_tokens),
                                                           static_cast<size_t>(n - 1)));
    if (!llama_memory_seq_rm(memory, -1, reused, -1)) {
        // A partial removal can be refused; start over from an empty memory.
        llama_memory_clear(memory, true);
        reused = 0;
    }
    if (reused > 0) log_stdout("[Engine] KV Cache hit! Reusing " + std::to_string(reused) + " tokens.\n");

    for (int32_t pos = reused; pos < n;) {
        const int32_t chunk = std::min(batch_size, n - pos);
        Batch prompt_batch(chunk);
        llama_batch &batch = prompt_batch.get();
        for (int32_t i = 0; i < chunk; ++i) {
            batch.token[i] = tokens[pos + i];
            batch.pos[i] = pos + i;
            batch.n_seq_id[i] = 1;
            batch.seq_id[i][0] = 0;
            batch.logits[i] = (pos + i == n - 1);
        }
        batch.n_tokens = chunk;
        if (llama_decode(ctx, batch) != 0) {
            log_stderr("[Engine] llama_decode failed (prompt chunk)\n");
            // The memory no longer matches the cache; make the next call start clean.
            cached_prompt_tokens.clear();
            if (!keep_loaded) unload();
            return false;
        }
        pos += chunk;
        log_stdout("[Engine] Processing prompt: " + std::to_string(pos * 100 / n) + "% (" + std::to_string(pos) +
                   "/" + std::to_string(n) + " tokens)\n");
    }
    return true;
}

void ChatModel::generate_tokens(int32_t n, bool keep_loaded, std::string &answer) {
    Batch step_batch(1);
    llama_batch &step = step_batch.get();
    llama_sampler_ptr sampler(llama_sampler_chain_init(llama_sampler_chain_default_params()));
    llama_sampler_chain_add(sampler.get(),
                            llama_sampler_init_temp(keep_loaded ? kKeepLoadedTemperature : config.temperature));
    llama_sampler_chain_add(sampler.get(), llama_sampler_init_dist(kSamplerSeed));

    const llama_vocab *vocab = llama_model_get_vocab(model);
    const int32_t n_vocab = llama_vocab_n_tokens(vocab);
    const auto n_ctx = static_cast<int64_t>(llama_n_ctx(ctx));
    char piece[kRunPieceBytes];
    for (int32_t g = 0; g < kMaxGeneratedTokens; ++g) {
        const llama_token tok = llama_sampler_sample(sampler.get(), ctx, -1);
        // End of sequence, of turn or of text all end the answer, adding no text.
        if (tok < 0 || tok >= n_vocab || llama_vocab_is_eog(vocab, tok)) break;

        const int32_t k = llama_token_to_piece(vocab, tok, piece, kRunPieceBytes, 0, false);
        if (k >= 1) {
            const size_t before = answer.size();
            answer.append(piece, static_cast<size_t>(k));
            const size_t cut = find_stop_cut(answer, before);
            if (cut != std::string::npos) {
                answer.resize(cut);
                break;
            }
        }

        // The context is full: the answer ends as at a failed decode.
        if (n + g >= n_ctx) break;
        step.token[0] = tok;
        step.pos[0] = n + g;
        step.n_seq_id[0] = 1;
        step.seq_id[0][0] = 0;
        step.logits[0] = true;
        step.n_tokens = 1;
        if (llama_decode(ctx, step) != 0) {
            log_stderr("[Engine] llama_decode failed (generation loop)\n");
            break;
        }
    }
}
