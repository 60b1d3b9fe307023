#pragma once

// Helpers of the benchmarks that set a library path against its dependency
// called directly: both are timed in the same run, interleaved, and the
// report carries the ratio, which a shared machine moves far less than the
// times themselves.

#include <benchmark/benchmark.h>

#include "llama.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

// A model written by `rag-make-models bench` (bench models) or `all` (test models).
inline std::string model(const std::string &name) {
    const char *env = std::getenv(name.rfind("bench-", 0) == 0 ? "RAG_BENCH_MODELS" : "RAG_TEST_MODELS");
    const fs::path dir = env && *env ? env : name.rfind("bench-", 0) == 0 ? "out/bench-models" : "out/release/models";
    return (dir / (name + ".gguf")).string();
}

inline double seconds(const std::function<void()> &work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Pair {
    double library = 1e300;
    double raw = 1e300;
};

// Best time of each side over `rounds` alternating runs: a busy neighbour
// slows a run, never speeds it up.
inline Pair best_of(int rounds, const std::function<void()> &library, const std::function<void()> &raw) {
    Pair best;
    for (int r = 0; r < rounds; ++r) {
        best.library = std::min(best.library, seconds(library));
        best.raw = std::min(best.raw, seconds(raw));
    }
    return best;
}

// Reports work units per second on both sides and library/raw speed; the
// label names the unit. The timed iteration is the library's.
inline void report_rate(benchmark::State &state, const Pair &t, double units, const char *unit) {
    state.SetIterationTime(t.library);
    state.counters["library"] = units / t.library;
    state.counters["raw"] = units / t.raw;
    state.counters["ratio"] = t.raw / t.library;
    state.SetLabel(unit);
}

// The same for latencies, in milliseconds.
inline void report_latency(benchmark::State &state, const Pair &t) {
    state.SetIterationTime(t.library);
    state.counters["library"] = t.library * 1e3;
    state.counters["raw"] = t.raw * 1e3;
    state.counters["ratio"] = t.raw / t.library;
    state.SetLabel("ms");
}

// llama.cpp called as the engine calls it: one text per encode with a context
// of 512, memory cleared before each, the pooled output normalised.
class RawEncoder {
public:
    RawEncoder(const std::string &path, int threads) {
        llama_backend_init();
        llama_model_params mp = llama_model_default_params();
        mp.n_gpu_layers = 0;
        model = llama_model_load_from_file(path.c_str(), mp);
        if (!model) return;
        llama_context_params cp = llama_context_default_params();
        cp.n_ctx = cp.n_batch = 512;
        cp.n_threads = cp.n_threads_batch = threads;
        cp.embeddings = true;
        ctx = llama_init_from_model(model, cp);
    }
    ~RawEncoder() {
        if (ctx) llama_free(ctx);
        if (model) llama_model_free(model);
        llama_backend_free();
    }
    RawEncoder(const RawEncoder &) = delete;
    RawEncoder &operator=(const RawEncoder &) = delete;
    bool ok() const { return ctx != nullptr; }

    std::vector<float> encode(const std::string &text, int32_t *n_tokens = nullptr) {
        const llama_vocab *vocab = llama_model_get_vocab(model);
        std::vector<llama_token> tokens(text.size() + 8);
        const int32_t n = llama_tokenize(vocab, text.data(), static_cast<int32_t>(text.size()), tokens.data(),
                                         static_cast<int32_t>(tokens.size()), true, false);
        tokens.resize(static_cast<size_t>(std::min<int32_t>(std::max(n, 0), 512)));
        if (n_tokens) *n_tokens = static_cast<int32_t>(tokens.size());
        llama_memory_clear(llama_get_memory(ctx), true);
        if (llama_encode(ctx, llama_batch_get_one(tokens.data(), static_cast<int32_t>(tokens.size()))) != 0)
            return {};
        const float *out = llama_get_embeddings_seq(ctx, 0);
        std::vector<float> v(out, out + 384);
        float sum = 0;
        for (float x : v) sum += x * x;
        for (float &x : v) x /= std::sqrt(sum);
        return v;
    }

private:
    llama_model *model = nullptr;
    llama_context *ctx = nullptr;
};

// Deterministic Portuguese prose of `count` words: about two WordPiece tokens
// a word, so the engine's 256-word chunks come near the 512-token context.
inline std::string portuguese_words(size_t count, uint32_t seed = 1) {
    static const char *const kWords[] = {
        "o", "contrato", "de", "locação", "do", "imóvel", "comercial", "vence", "em", "março",
        "aluguel", "mensal", "reajuste", "anual", "pelo", "índice", "inquilino", "proprietário",
        "garantia", "fiança", "bancária", "rescisão", "antecipada", "multa", "equivalente", "três",
        "meses", "manutenção", "bomba", "hidráulica", "trocada", "agosto", "relatório", "técnico",
        "reunião", "condomínio", "aprovou", "orçamento", "obras", "fachada", "prazo", "entrega",
        "cláusula", "quinta", "estabelece", "pagamento", "até", "dia", "útil", "cada", "mês",
        "documentos", "anexos", "assinatura", "testemunhas", "foro", "comarca", "são", "paulo"};
    constexpr uint32_t kCount = sizeof kWords / sizeof kWords[0];
    std::string text;
    uint32_t h = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        h = h * 1103515245u + 12345u;
        text += (i ? " " : "") + std::string(kWords[(h >> 16) % kCount]);
    }
    return text;
}

// The library logs a line per step on stdout; on a terminal that would be
// timed too. Reports go to stderr.
inline int run_quietly(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::fflush(stdout);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    benchmark::ConsoleReporter report(benchmark::ConsoleReporter::OO_Tabular);
    report.SetOutputStream(&std::cerr);
    report.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&report);
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
