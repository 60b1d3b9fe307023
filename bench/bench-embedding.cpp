#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/engine.h"

namespace fs = std::filesystem;

namespace {

// One engine per process, so loading is untimed and logged once. Its
// constructor initialises llama, whose statics therefore outlive it.
struct Loaded {
    fs::path dir = fs::temp_directory_path() / ("rag-bench-embed-" + std::to_string(getpid()));
    std::unique_ptr<Engine> engine;
    std::string error;

    Loaded() {
        const char *env = std::getenv("RAG_BENCH_MODELS");
        const fs::path model = fs::path(env && *env ? env : "out/models") / "embed.gguf";
        if (!fs::exists(model)) {
            error = model.string() + " missing: run scripts/demo.sh or set RAG_BENCH_MODELS";
            return;
        }
        EngineConfig config;  // rag_create's defaults, 4 threads among them
        config.embedding_model_path = model.string();
        config.data_dir = dir.string();
        config.index_path = (dir / "index.bin").string();
        engine = std::make_unique<Engine>(config);
        if (!engine->init()) error = "engine init failed", engine.reset();
    }
    ~Loaded() {
        engine.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

void BM_Embed(benchmark::State &state, const std::string &text) {
    static Loaded loaded;
    if (!loaded.engine) return state.SkipWithError(loaded.error.c_str());
    if (loaded.engine->embed(text).size() != 384) return state.SkipWithError("embed failed");
    for (auto _ : state) benchmark::DoNotOptimize(loaded.engine->embed(text));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// 32 common English words, about a token each: 256 of them fit the context.
const std::string kSentence =
    "the annual report shows that the company increased its sales in three regions during the "
    "fiscal year with strong growth in exports while the costs of transport and storage stayed "
    "very stable ";

// Real time: the work runs on llama's threads, not the timing one.
BENCHMARK_CAPTURE(BM_Embed, chunk_256_words, [] {
    std::string chunk;
    for (int i = 0; i < 8; ++i) chunk += kSentence;
    return chunk;
}())
    ->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Embed, question_10_words,
                  std::string("what does the annual report say about regional export growth"))
    ->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
