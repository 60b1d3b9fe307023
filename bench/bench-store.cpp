#include <benchmark/benchmark.h>
#include <hnswlib/hnswlib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

#include "api/rag_handle.h"
#include "bench_support.h"
#include "rag.h"
#include "store/text_normalize.h"
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

// Word by word bag-of-words vectors, as the test embedder makes them from its
// tokens: chunks that share words lie close.
std::vector<float> bag_of_words(const std::string &text) {
    std::vector<float> v(kDim, 0.05f);
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        uint64_t h = std::hash<std::string>{}(word);
        for (int32_t i = 0; i < kDim; ++i) {
            h = h * 6364136223846793005ULL + 1442695040888963407ULL;
            v[static_cast<size_t>(i)] += (h >> 63) ? 1.0f : -1.0f;
        }
    }
    const float norm = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0f));
    for (float &x : v) x /= norm;
    return v;
}

// A store of n chunks as the engine lays it out (dir/index.bin,
// dir/data/metadata.db), rows and points in step, written directly: rows in
// one transaction, the graph with the engine's settings on every core. Kept
// under RAG_BENCH_DATA (default out/bench-data) for later runs.
fs::path filled_store(int64_t n) {
    const char *env = std::getenv("RAG_BENCH_DATA");
    const fs::path dir = fs::path(env && *env ? env : "out/bench-data") / ("store-" + std::to_string(n));
    if (fs::exists(dir / "complete")) return dir;
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    {
        VectorStore schema((dir / "unused.bin").string(), (dir / "data" / "metadata.db").string(), kDim,
                           100000, 16, 200, 200);
        if (!schema.init()) return {};
    }
    std::mt19937 rng(11);
    std::vector<std::string> texts(static_cast<size_t>(n));
    for (std::string &t : texts) t = chunk_text(rng);

    hnswlib::InnerProductSpace space(kDim);
    hnswlib::HierarchicalNSW<float> index(&space, std::max<size_t>(100000, static_cast<size_t>(n)), 16, 200,
                                          100, false);
    std::atomic<int64_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
        workers.emplace_back([&] {
            for (int64_t i; (i = next++) < n;)
                index.addPoint(bag_of_words(texts[static_cast<size_t>(i)]).data(),
                               static_cast<hnswlib::labeltype>(i));
        });

    sqlite3 *db = nullptr;
    sqlite3_stmt *row = nullptr, *text = nullptr;
    bool ok = sqlite3_open((dir / "data" / "metadata.db").c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO chunks VALUES (?, ?, 1, ?, ?)", -1, &row,
                                 nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO chunks_fts(rowid, chunk_text) VALUES (?, ?)", -1,
                                 &text, nullptr) == SQLITE_OK;
    for (int64_t i = 0; ok && i < n; ++i) {
        const std::string &body = texts[static_cast<size_t>(i)];
        const std::string path = "C:\\docs\\file" + std::to_string(i / 20) + ".txt";
        sqlite3_bind_int64(row, 1, i);
        sqlite3_bind_int64(row, 2, i % 20);
        sqlite3_bind_text(row, 3, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(row, 4, body.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(text, 1, i);
        sqlite3_bind_text(text, 2, body.c_str(), -1, SQLITE_STATIC);
        ok = sqlite3_step(row) == SQLITE_DONE && sqlite3_step(text) == SQLITE_DONE;
        sqlite3_reset(row);
        sqlite3_reset(text);
    }
    sqlite3_finalize(row);
    sqlite3_finalize(text);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    for (std::thread &w : workers) w.join();
    if (!ok) return {};
    index.saveIndex((dir / "index.bin").string());
    std::ofstream(dir / "complete") << n << "\n";
    return dir;
}

// A scratch copy of the filled store, for runs that change it.
fs::path store_copy(int64_t n, const std::string &name) {
    const fs::path source = filled_store(n);
    if (source.empty()) return {};
    const fs::path dir = kRoot / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(source, dir, fs::copy_options::recursive);
    return dir;
}

// What every start-up pays for the crash check when nothing was lost, beside
// the rest of opening the store.
void BM_StoreStartup(benchmark::State &state, bool check) {
    const fs::path dir = filled_store(state.range(0));
    if (dir.empty()) return state.SkipWithError("writing the store failed");
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<VectorStore>((dir / "index.bin").string(),
                                                   (dir / "data" / "metadata.db").string(), kDim, 100000,
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


// ---- the library on filled stores, against its dependencies called directly ----

struct HandleCloser {
    void operator()(rag_handle *h) const { rag_destroy(h); }
};
using Handle = std::unique_ptr<rag_handle, HandleCloser>;

// A handle on dir with the test embedder and rag_create's default threads.
Handle open_handle(const fs::path &dir) {
    Handle h(rag_create("", bench::model("embed").c_str(), (dir / "index.bin").c_str(), dir.c_str(),
                        (dir / "data").c_str(), 0, 0));
    if (h && rag_init(h.get()) != RAG_OK) h.reset();
    return h;
}

// rag_init against what it cannot do without: loading the model and its
// context, loading the index, opening the database and reading the largest label.
void BM_Init(benchmark::State &state) {
    const fs::path dir = store_copy(state.range(0), "init");
    if (dir.empty()) return state.SkipWithError("writing the store failed");
    const std::string model = bench::model("embed");
    for (auto _ : state) {
        Handle h;
        const bench::Pair t = bench::best_of(
            3,
            [&] {
                h.reset();
                h.reset(rag_create("", model.c_str(), (dir / "index.bin").c_str(), dir.c_str(),
                                   (dir / "data").c_str(), 0, 0));
                if (!h || rag_init(h.get()) != RAG_OK) state.SkipWithError("rag_init failed");
            },
            [&] {
                bench::RawEncoder encoder(model, 4);
                hnswlib::InnerProductSpace space(kDim);
                hnswlib::HierarchicalNSW<float> index(&space, (dir / "index.bin").string(), false, 100000, true);
                sqlite3 *db = nullptr;
                sqlite3_open((dir / "data" / "metadata.db").c_str(), &db);
                sqlite3_busy_timeout(db, 5000);
                sqlite3_exec(db, "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;SELECT MAX(label) FROM chunks",
                             nullptr, nullptr, nullptr);
                sqlite3_close(db);
            });
        bench::report_latency(state, t);
    }
}
BENCHMARK(BM_Init)->ArgName("chunks")->Arg(1000)->Arg(100000)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Documents of three chunks indexed into a store that already holds n chunks:
// a cost that grows with the store shows against the raw encode of the same
// chunks, which does not.
void BM_IndexIntoStore(benchmark::State &state) {
    constexpr int kDocuments = 10;
    const fs::path dir = store_copy(state.range(0), "index-into");
    Handle h = dir.empty() ? nullptr : open_handle(dir);
    if (!h) return state.SkipWithError("cannot open the filled store");
    bench::RawEncoder raw(bench::model("embed"), 4);
    const std::string text = bench::portuguese_words(224 * 3 + 32, 7);
    const std::vector<std::string> chunks = h->engine->chunk_text(text);
    int n = 0;
    for (auto _ : state) {
        const bench::Pair t = bench::best_of(
            3,
            [&] {
                for (int d = 0; d < kDocuments; ++d) {
                    const std::string path = (dir / ("new-" + std::to_string(n++) + ".txt")).string();
                    if (rag_add_text_document(h.get(), path.c_str(), text.c_str()) != RAG_OK)
                        state.SkipWithError("indexing failed");
                }
            },
            [&] {
                for (int d = 0; d < kDocuments; ++d)
                    for (const std::string &chunk : chunks) benchmark::DoNotOptimize(raw.encode(chunk));
            });
        bench::report_rate(state, t, kDocuments, "documents/s");
    }
}
BENCHMARK(BM_IndexIntoStore)->ArgName("chunks")->Arg(1000)->Arg(10000)->Arg(100000)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// FTS5 prefix phrases of the question's words, as the store builds them.
std::string raw_text_query(const std::string &question) {
    std::istringstream words(normalize_text(question));
    std::string query, word;
    while (words >> word)
        if (word.size() >= 3) query += (query.empty() ? "\"" : " AND \"") + word + "\"*";
    return query;
}

// rag_search against the question's embedding, searchKnn and one FTS5 MATCH.
void BM_Search(benchmark::State &state) {
    const fs::path dir = filled_store(state.range(0));
    Handle h = dir.empty() ? nullptr : open_handle(dir);
    if (!h) return state.SkipWithError("cannot open the filled store");
    bench::RawEncoder raw(bench::model("embed"), 4);
    hnswlib::InnerProductSpace space(kDim);
    hnswlib::HierarchicalNSW<float> index(&space, (dir / "index.bin").string(), false, 100000, true);
    index.setEf(200);
    sqlite3 *db = nullptr;
    sqlite3_open_v2((dir / "data" / "metadata.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<std::string> questions;
    std::mt19937 rng(11);  // the fill's texts, so the questions find their chunks
    for (int64_t i = 0; i < state.range(0); ++i) {
        std::string question;
        chunk_text(rng, i % (state.range(0) / kQueries) == 0 ? &question : nullptr);
        if (!question.empty() && questions.size() < kQueries) questions.push_back(question);
    }
    std::vector<rag_search_result> results(3);
    size_t hits = 0;
    for (auto _ : state) {
        const bench::Pair t = bench::best_of(
            3,
            [&] {
                for (const std::string &q : questions)
                    hits += static_cast<size_t>(std::max(0, rag_search(h.get(), q.c_str(), 3, results.data())));
            },
            [&] {
                for (const std::string &q : questions) {
                    const std::vector<float> v = raw.encode(q);
                    benchmark::DoNotOptimize(index.searchKnn(v.data(), 6));
                    sqlite3_stmt *match = nullptr;
                    sqlite3_prepare_v2(db, "SELECT rowid, -rank FROM chunks_fts WHERE chunks_fts MATCH ? "
                                           "ORDER BY rank LIMIT 20", -1, &match, nullptr);
                    sqlite3_bind_text(match, 1, raw_text_query(q).c_str(), -1, SQLITE_TRANSIENT);
                    while (sqlite3_step(match) == SQLITE_ROW) benchmark::DoNotOptimize(sqlite3_column_int(match, 0));
                    sqlite3_finalize(match);
                }
            });
        bench::report_latency(state, {t.library / questions.size(), t.raw / questions.size()});
    }
    sqlite3_close(db);
    if (hits == 0) state.SkipWithError("no search found anything");
}
BENCHMARK(BM_Search)->ArgName("chunks")->Arg(1000)->Arg(10000)->Arg(100000)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    const int rc = bench::run_quietly(argc, argv);
    corpora.clear();
    std::error_code ec;
    fs::remove_all(kRoot, ec);
    return rc;
}
