// Indexing host text through the library against a bare llama.cpp encode loop
// over the same chunks, with the same context parameters and threads.

#include <memory>
#include <vector>
#include <unistd.h>

#include "api/rag_handle.h"
#include "bench_support.h"
#include "rag.h"

namespace {

constexpr int kChunksPerDocument = 6;
constexpr int kRounds = 5;

struct HandleCloser {
    void operator()(rag_handle *h) const { rag_destroy(h); }
};

void BM_IndexText(benchmark::State &state) {
    const int threads = static_cast<int>(state.range(0));
    const std::string model = bench::model("bench-embed-minilm");
    const bench::fs::path dir =
        bench::fs::temp_directory_path() / ("rag-bench-embed-" + std::to_string(getpid()));
    std::unique_ptr<rag_handle, HandleCloser> h(rag_create("", model.c_str(), (dir / "index.bin").c_str(),
                                                           dir.c_str(), (dir / "data").c_str(), 0, threads));
    if (!h || rag_init(h.get()) != RAG_OK) return state.SkipWithError(("cannot start on " + model).c_str());
    bench::RawEncoder raw(model, threads);
    if (!raw.ok()) return state.SkipWithError("raw context failed");

    // 256-word windows overlapping by 32 words.
    const std::string text = bench::portuguese_words(224 * kChunksPerDocument + 32);
    const std::vector<std::string> chunks = h->engine->chunk_text(text);
    int32_t tokens = 0;
    for (const std::string &chunk : chunks) {
        int32_t n = 0;
        raw.encode(chunk, &n);
        tokens += n;
    }

    int round = 0;
    for (auto _ : state) {
        const bench::Pair t = bench::best_of(
            kRounds,
            [&] {
                const std::string path = (dir / ("doc" + std::to_string(round++) + ".txt")).string();
                if (rag_add_text_document(h.get(), path.c_str(), text.c_str()) != RAG_OK)
                    state.SkipWithError("indexing failed");
            },
            [&] {
                for (const std::string &chunk : chunks) benchmark::DoNotOptimize(raw.encode(chunk));
            });
        bench::report_rate(state, t, static_cast<double>(chunks.size()), "chunks/s");
    }
    state.counters["tokens_per_chunk"] = static_cast<double>(tokens) / static_cast<double>(chunks.size());
    // Bit for bit the same embedding whatever the thread count.
    static std::vector<float> one_thread;
    const std::vector<float> first = h->engine->embed(chunks[0]);
    if (threads == 1) one_thread = first;
    state.counters["same_as_1_thread"] = !one_thread.empty() && first == one_thread;
    h.reset();
    std::error_code ec;
    bench::fs::remove_all(dir, ec);
}
BENCHMARK(BM_IndexText)
    ->ArgName("threads")->Arg(1)->Arg(4)->Arg(8)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) { return bench::run_quietly(argc, argv); }
