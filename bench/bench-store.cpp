#include <benchmark/benchmark.h>
#include <hnswlib/hnswlib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <random>

#include "store/vector_store.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kDim = 384;
constexpr int kQueries = 64;
const fs::path kRoot = fs::temp_directory_path() / ("rag-bench-store-" + std::to_string(getpid()));

// Settings as Engine::init passes them, so graph shape and search effort match.
std::unique_ptr<VectorStore> open_store(const std::string &name, int32_t dim = kDim) {
    fs::remove_all(kRoot / name);
    fs::create_directories(kRoot / name);
    auto store = std::make_unique<VectorStore>((kRoot / name / "index.bin").string(),
                                               (kRoot / name / "metadata.db").string(), dim,
                                               100000, 16, 200, 200);
    return store->init() ? std::move(store) : nullptr;
}

std::vector<float> unit_vector(std::mt19937 &rng, int32_t dim = kDim) {
    std::normal_distribution<float> normal;
    std::vector<float> v(static_cast<size_t>(dim));
    for (float &x : v) x = normal(rng);
    const float norm = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0f));
    for (float &x : v) x /= norm;
    return v;
}

// 256 words (the engine's default window) drawn skewed from 5000 made-up ones:
// frequent words are short, as in real text, and all have the 3+ bytes the
// full-text query keeps. *question gets three consecutive words of the chunk.
std::string chunk_text(std::mt19937 &rng, std::string *question = nullptr) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::string text;
    for (int i = 0; i < 256; ++i) {
        const auto n = static_cast<uint32_t>(std::pow(u(rng), 3.0) * 5000);
        std::string word;
        for (uint32_t h = n * 2654435761u + 1; word.size() < 3 + std::log2(n + 1.0) / 2;) {
            h = h * 1103515245u + 12345u;
            word += static_cast<char>('a' + (h >> 16) % 26);
        }
        text += (i ? " " : "") + word;
        if (question && i >= 100 && i < 103) *question += word + " ";
    }
    return text;
}

struct Corpus {
    std::unique_ptr<VectorStore> store;
    std::vector<std::vector<float>> queries;  // stored vectors
    std::vector<std::string> questions;       // words of the same chunks
};
std::map<int64_t, Corpus> corpora;

const Corpus *corpus(int64_t size) {
    Corpus &c = corpora[size];
    if (c.store) return &c;
    if (!(c.store = open_store("search-" + std::to_string(size)))) return nullptr;
    std::mt19937 rng(7);
    for (int32_t i = 0; i < size; ++i) {
        std::string question;
        const bool sample = i % (size / kQueries) == 0 && c.queries.size() < kQueries;
        const std::vector<float> v = unit_vector(rng);
        if (c.store->add(v, Chunk{i, 0, "/docs/corpus.txt", chunk_text(rng, &question)}) < 0)
            return corpora.erase(size), nullptr;
        if (sample) c.queries.push_back(v), c.questions.push_back(question);
    }
    return &c;
}

void BM_StoreAdd(benchmark::State &state) {
    auto store = open_store("add");
    if (!store) return state.SkipWithError("store init failed");
    std::mt19937 rng(3);
    std::vector<std::vector<float>> vectors;  // distinct: duplicates would skew the graph
    for (int64_t i = 0; i < state.max_iterations; ++i) vectors.push_back(unit_vector(rng));
    std::vector<Chunk> chunks(64, Chunk{0, 0, "/docs/add.txt", ""});
    for (Chunk &chunk : chunks) chunk.text = chunk_text(rng);
    int64_t bytes = 0;
    int32_t n = 0;
    for (auto _ : state) {
        Chunk &chunk = chunks[n % chunks.size()];
        chunk.chunk_id = n;
        if (store->add(vectors[n++], chunk) < 0) return state.SkipWithError("add failed");
        bytes += static_cast<int64_t>(chunk.text.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}
// A fixed count, so every run times adds into a store growing from 0 to 2000.
BENCHMARK(BM_StoreAdd)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_StoreSearch(benchmark::State &state, bool hybrid) {
    const Corpus *c = corpus(state.range(0));
    if (!c) return state.SkipWithError("building the store failed");
    size_t n = 0, hits = 0;
    for (auto _ : state) {
        const size_t q = n++ % kQueries;
        hits += c->store->search(c->queries[q], 3, hybrid ? c->questions[q] : "").size();
    }
    if (hits == 0) state.SkipWithError("no search found anything");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_StoreSearch, hybrid, true)
    ->ArgName("chunks")->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_StoreSearch, vector_only, false)
    ->ArgName("chunks")->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Rows and index files of n chunks, in step, written directly: rows in one
// transaction, and a coarse graph, since the start-up check reads only labels.
bool write_store_in_step(const fs::path &dir, int64_t n) {
    if (!open_store(dir.filename().string())) return false;  // creates the schema
    sqlite3 *db = nullptr;
    sqlite3_stmt *row = nullptr, *text = nullptr;
    bool ok = sqlite3_open((dir / "metadata.db").c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO chunks VALUES (?, ?, 1, ?, ?)", -1, &row,
                                 nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO chunks_fts(rowid, chunk_text) VALUES (?, ?)", -1,
                                 &text, nullptr) == SQLITE_OK;
    hnswlib::InnerProductSpace space(kDim);
    hnswlib::HierarchicalNSW<float> index(&space, static_cast<size_t>(n), 16, 10, 100, false);
    std::mt19937 rng(11);
    for (int64_t i = 0; ok && i < n; ++i) {
        const std::string body = chunk_text(rng);
        const std::string path = "C:\\docs\\file" + std::to_string(i / 20) + ".txt";
        sqlite3_bind_int64(row, 1, i);
        sqlite3_bind_int64(row, 2, i % 20);
        sqlite3_bind_text(row, 3, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(row, 4, body.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(text, 1, i);
        sqlite3_bind_text(text, 2, body.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(row) == SQLITE_DONE && sqlite3_step(text) == SQLITE_DONE;
        sqlite3_reset(row);
        sqlite3_reset(text);
        index.addPoint(unit_vector(rng).data(), static_cast<hnswlib::labeltype>(i));
    }
    sqlite3_finalize(row);
    sqlite3_finalize(text);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (ok) index.saveIndex((dir / "index.bin").string());
    return ok;
}

// What every start-up pays for the crash check when nothing was lost, beside
// the rest of opening the store.
void BM_StoreStartup(benchmark::State &state, bool check) {
    const int64_t n = state.range(0);
    const fs::path dir = kRoot / ("startup-" + std::to_string(n));
    if (!fs::exists(dir / "index.bin") && !write_store_in_step(dir, n))
        return state.SkipWithError("writing the store failed");
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<VectorStore>((dir / "index.bin").string(),
                                                   (dir / "metadata.db").string(), kDim, 100000,
                                                   16, 200, 200);
        if (check && !store->init()) return state.SkipWithError("store init failed");
        state.ResumeTiming();
        if (!check && !store->init()) return state.SkipWithError("store init failed");
        if (check && !store->reconcile_points().empty()) return state.SkipWithError("out of step");
        state.PauseTiming();
        store.reset();  // closing is no part of either
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_StoreStartup, open, false)
    ->ArgName("chunks")->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StoreStartup, crash_check, true)
    ->ArgName("chunks")->Arg(100000)->Unit(benchmark::kMillisecond);

// A question word found in every chunk: all its matches are ranked to keep the
// best 20. The vectors are narrow, since only the text part is of interest.
void BM_StoreSearchCommonWord(benchmark::State &state) {
    static std::unique_ptr<VectorStore> store;
    if (!store) {
        if (!(store = open_store("common", 8))) return state.SkipWithError("store init failed");
        std::mt19937 rng(11);
        for (int32_t i = 0; i < state.range(0); ++i)
            if (store->add(unit_vector(rng, 8), Chunk{i, 0, "/docs/common.txt", "comum " + chunk_text(rng)}) < 0)
                return state.SkipWithError("add failed");
    }
    std::mt19937 rng(12);
    const std::vector<float> query = unit_vector(rng, 8);
    for (auto _ : state)
        if (store->search(query, 3, "comum").empty()) return state.SkipWithError("nothing found");
    state.SetItemsProcessed(state.iterations());
    store.reset();
}
BENCHMARK(BM_StoreSearchCommonWord)->ArgName("chunks")->Arg(100000)->Unit(benchmark::kMillisecond);

// The store's part of indexing one new file of 3 chunks, as the engine does
// it: remove what the path had (nothing), add, record, throttled save.
void BM_StoreAddDocument(benchmark::State &state) {
    auto store = open_store("documents-" + std::to_string(state.range(0)));
    if (!store) return state.SkipWithError("store init failed");
    std::mt19937 rng(5);
    for (int32_t i = 0; i < state.range(0); ++i)
        if (store->add(unit_vector(rng), Chunk{i, 0, "/docs/base.txt", chunk_text(rng)}) < 0)
            return state.SkipWithError("add failed");
    std::vector<Chunk> chunks(3, Chunk{0, 1, "", chunk_text(rng)});
    int64_t n = 0;
    for (auto _ : state) {
        const std::string path = "/docs/new-" + std::to_string(n++) + ".txt";
        store->remove_document(path);
        for (int32_t c = 0; c < 3; ++c) {
            chunks[c].chunk_id = c;
            chunks[c].file_path = path;
            if (store->add(unit_vector(rng), chunks[c]) < 0) return state.SkipWithError("add failed");
        }
        store->mark_file_indexed(path, n);
        store->save_index(false);
    }
    state.SetItemsProcessed(state.iterations());  // documents
}
BENCHMARK(BM_StoreAddDocument)->ArgName("chunks")->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Each search with text matches logs a line to stdout, which on a terminal
    // would be timed too: stdout goes to /dev/null, the report to stderr.
    std::fflush(stdout);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    benchmark::ConsoleReporter report(benchmark::ConsoleReporter::OO_Tabular);
    report.SetOutputStream(&std::cerr);
    report.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&report);
    benchmark::Shutdown();
    corpora.clear();
    std::error_code ec;
    fs::remove_all(kRoot, ec);
}
