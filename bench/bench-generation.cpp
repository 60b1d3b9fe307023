// The prompt phase of the chat model, first and repeated, against llama.cpp's
// own decode of the same tokens; and the resident set around the lazy load.

#include <memory>
#include <unistd.h>

#include "bench_support.h"
#include "engine/engine.h"
#include "platform/memory.h"

namespace {

constexpr int kRounds = 2;

// The question prompt over three retrieved chunks of 150 words: about 1000
// tokens, within the 1536 a context of 2048 takes.
Prompt question_prompt() {
    std::vector<SearchResult> chunks;
    for (uint32_t i = 0; i < 3; ++i)
        chunks.push_back({"C:\\docs\\contrato-" + std::to_string(i) + ".txt", bench::portuguese_words(150, i + 3)});
    return Engine::build_prompt("Quando vence o contrato de locação do imóvel comercial?", chunks);
}

struct Loaded {
    bench::fs::path dir = bench::fs::temp_directory_path() / ("rag-bench-gen-" + std::to_string(getpid()));
    std::unique_ptr<Engine> engine;
    llama_model *model = nullptr;
    llama_context *ctx = nullptr;

    Loaded() {
        EngineConfig config;  // rag_create's defaults: n_ctx 2048, 4 threads, batch 512
        config.n_threads = 8;
        config.llm_model_path = bench::model("bench-chat-qwen2");
        config.embedding_model_path = bench::model("embed");
        config.data_dir = dir.string();
        config.index_path = (dir / "index.bin").string();
        engine = std::make_unique<Engine>(config);
        if (!engine->init()) engine.reset();
    }
    ~Loaded() {
        if (ctx) llama_free(ctx);
        if (model) llama_model_free(model);
        engine.reset();
        std::error_code ec;
        bench::fs::remove_all(dir, ec);
    }

    // The raw side: the same model and context parameters.
    bool open_raw() {
        const EngineConfig &c = engine->configuration();
        llama_model_params mp = llama_model_default_params();
        mp.n_gpu_layers = 0;
        model = llama_model_load_from_file(c.llm_model_path.c_str(), mp);
        if (!model) return false;
        llama_context_params cp = llama_context_default_params();
        cp.n_ctx = static_cast<uint32_t>(c.n_ctx);
        cp.n_batch = static_cast<uint32_t>(c.n_batch);
        cp.n_threads = cp.n_threads_batch = c.n_threads;
        ctx = llama_init_from_model(model, cp);
        return ctx != nullptr;
    }

    // Decodes tokens[from..] in batches of n_batch, logits for the last only.
    void raw_decode(const std::vector<llama_token> &tokens, int32_t from) {
        llama_memory_seq_rm(llama_get_memory(ctx), -1, from, -1);
        const auto n = static_cast<int32_t>(tokens.size());
        llama_batch batch = llama_batch_init(engine->configuration().n_batch, 0, 1);
        for (int32_t pos = from; pos < n;) {
            const int32_t chunk = std::min(engine->configuration().n_batch, n - pos);
            for (int32_t i = 0; i < chunk; ++i) {
                batch.token[i] = tokens[static_cast<size_t>(pos + i)];
                batch.pos[i] = pos + i;
                batch.n_seq_id[i] = 1;
                batch.seq_id[i][0] = 0;
                batch.logits[i] = pos + i == n - 1;
            }
            batch.n_tokens = chunk;
            llama_decode(ctx, batch);
            pos += chunk;
        }
        llama_batch_free(batch);
    }
};

Loaded &loaded() {
    static Loaded l;
    return l;
}

// Registered first, so no other model is resident yet.
// Resident set before the chat model loads, after one answer (the mapped
// weights are touched), and after the lazy unload.
void BM_ChatModelMemory(benchmark::State &state) {
    const bench::fs::path dir = bench::fs::temp_directory_path() / ("rag-bench-mem-" + std::to_string(getpid()));
    EngineConfig config;
    config.n_threads = 8;
    config.llm_model_path = bench::model("bench-chat-qwen2");
    config.embedding_model_path = bench::model("embed");
    config.data_dir = dir.string();
    config.index_path = (dir / "index.bin").string();
    for (auto _ : state) {
        Engine engine(config);
        if (!engine.init()) return state.SkipWithError("engine init failed");
        const double mb = 1024.0 * 1024.0;
        const double before = platform::resident_bytes() / mb;
        engine.run_llm(question_prompt(), true);
        const double loaded = platform::resident_bytes() / mb;
        engine.unload_llm();
        const double after = platform::resident_bytes() / mb;
        state.counters["before_MB"] = before;
        state.counters["loaded_MB"] = loaded;
        state.counters["unloaded_MB"] = after;
    }
    std::error_code ec;
    bench::fs::remove_all(dir, ec);
}
BENCHMARK(BM_ChatModelMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// A first prompt decodes every token; a repeated one only its last, the rest
// coming from the cache. Each answer is empty: the model's first sample ends it.
void BM_PromptPhase(benchmark::State &state, bool repeated) {
    Loaded &l = loaded();
    if (!l.engine) return state.SkipWithError("engine init failed");
    const Prompt prompt = question_prompt();
    const Prompt other = Prompt().fixed("x");  // shares no first token: empties the cache
    if (!l.engine->load_llm() || !l.engine->run_llm(prompt, true).empty())
        return state.SkipWithError("the benchmark chat model did not answer with an empty text");
    const std::vector<llama_token> tokens = l.engine->prompt_cache();
    if (!l.ctx && !l.open_raw()) return state.SkipWithError("raw context failed");
    const auto n = static_cast<int32_t>(tokens.size());
    if (repeated) l.raw_decode(tokens, 0);  // the raw memory then holds the prompt
    for (auto _ : state) {
        bench::Pair t;
        for (int r = 0; r < kRounds; ++r) {
            if (!repeated) l.engine->run_llm(other, true);
            t.library = std::min(t.library, bench::seconds([&] { l.engine->run_llm(prompt, true); }));
            t.raw = std::min(t.raw, bench::seconds([&] { l.raw_decode(tokens, repeated ? n - 1 : 0); }));
        }
        bench::report_latency(state, t);
    }
    state.counters["prompt_tokens"] = n;
}
BENCHMARK_CAPTURE(BM_PromptPhase, first, false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PromptPhase, repeated, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) { return bench::run_quietly(argc, argv); }
