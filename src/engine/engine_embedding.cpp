#include "engine/engine.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "llama.h"

#include "common/log.h"
#include "engine/tokenize_text.h"

std::vector<float> Engine::embed(const std::string &text) {
    if (!embed_model || !embed_ctx) return {};
    std::lock_guard<std::recursive_mutex> lock(embed_mutex);

    std::vector<llama_token> tokens = tokenize_text(llama_model_get_vocab(embed_model), text, true, false);
    if (tokens.empty()) return {};
    const auto got = static_cast<int64_t>(tokens.size());
    // An encoder model aborts the process on positions past its trained
    // context, so that limit caps the tokens as well.
    const int64_t limit = std::min<int64_t>({got, llama_n_ctx(embed_ctx), llama_n_batch(embed_ctx),
                                             llama_model_n_ctx_train(embed_model)});
    if (limit <= 0) return {};
    tokens.resize(static_cast<size_t>(limit));

    // Copying more floats than the model outputs would read past its buffer;
    // a ranking model outputs scores, not embeddings.
    const int32_t dim = config.embedding_dim;
    if (dim <= 0 || llama_model_n_embd_out(embed_model) < dim ||
        llama_pooling_type(embed_ctx) == LLAMA_POOLING_TYPE_RANK)
        return {};

    llama_batch batch = llama_batch_get_one(tokens.data(), static_cast<int32_t>(tokens.size()));
    llama_memory_clear(llama_get_memory(embed_ctx), true);

    const int32_t rc = llama_model_has_encoder(embed_model) ? llama_encode(embed_ctx, batch)
                                                            : llama_decode(embed_ctx, batch);
    if (rc != 0) {
        log_stderr("[Engine] llama_decode/encode failed for embedding (Error: " + std::to_string(rc) +
                   ")\n");
        return {};
    }

    const float *out = llama_get_embeddings_seq(embed_ctx, 0);
    if (!out) out = llama_get_embeddings(embed_ctx);
    if (!out) return {};

    std::vector<float> embedding(out, out + dim);
    float sum = 0.0f;
    for (float v : embedding) sum += v * v;
    const float norm = std::sqrt(sum);
    if (norm > 1e-8f)
        for (float &v : embedding) v /= norm;
    return embedding;
}
