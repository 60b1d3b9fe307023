#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "engine/engine.h"
#include "engine/text_decoding.h"
#include "store/text_normalize.h"

namespace {

// Portuguese prose in ISO 8859-1, like the legacy documents the engine gets;
// ensure_utf8 of it is the UTF-8 form. Line breaks and tabs vary separators.
std::string latin1_words(size_t count) {
    static const char *const kWords[] = {
        "o", "relat\xF3rio", "anual", "de", "produ\xE7\xE3o", "mostra", "que", "a", "empresa",
        "ampliou", "suas", "vendas", "em", "tr\xEAs", "regi\xF5" "es", "durante", "per\xEDodo",
        "fiscal", "com", "\xEAnfase", "na", "exporta\xE7\xE3o", "e", "log\xEDstica", "\xE1rea",
        "t\xE9" "cnica", "or\xE7" "amento", "2023,"};
    constexpr size_t kCount = sizeof kWords / sizeof kWords[0];
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += i % 97 == 0 ? "\n" : i % 31 == 0 ? "\t" : " ";
        text += kWords[(i * 11 + i / kCount) % kCount];
    }
    return text;
}

void BM_ChunkText(benchmark::State &state) {
    // chunk_text needs no model; an existing data_dir leaves nothing to clean.
    static const Engine engine([] {
        EngineConfig config;
        config.data_dir = std::filesystem::temp_directory_path().string();
        return config;
    }());
    const std::string text = ensure_utf8(latin1_words(100000));
    size_t chunks = 0;
    for (auto _ : state) chunks += engine.chunk_text(text).size();
    benchmark::DoNotOptimize(chunks);
    state.SetItemsProcessed(state.iterations() * 100000);  // words
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ChunkText)->Unit(benchmark::kMillisecond);

void BM_EnsureUtf8(benchmark::State &state, bool latin1) {
    std::string text = latin1_words(1 << 19);  // words take 2+ bytes each
    text.resize(1 << 20);
    if (!latin1) text = ensure_utf8(text);  // a few % over 1 MB
    if (is_valid_utf8(text) == latin1) return state.SkipWithError("input not as intended");
    for (auto _ : state) benchmark::DoNotOptimize(ensure_utf8(text));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK_CAPTURE(BM_EnsureUtf8, valid_1MB, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EnsureUtf8, latin1_1MB, true)->Unit(benchmark::kMicrosecond);

void BM_NormalizeQuestion(benchmark::State &state) {
    std::string question =
        "Qual foi o faturamento da Empresa em 2023, segundo o relatório anual? E quais "
        "regiões (Norte/Sul) tiveram o maior crescimento de exportação -- e por quê? ";
    while (question.size() < 200) question += question;
    question.resize(200);
    for (auto _ : state) benchmark::DoNotOptimize(normalize_text(question));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 200);
}
BENCHMARK(BM_NormalizeQuestion);

} // namespace
