#include "engine/engine.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "llama.h"

#include "common/log.h"
#include "engine/model_loading.h"
#include "platform/filesystem.h"

namespace {

constexpr size_t kInitialIndexCapacity = 100000;
constexpr uint32_t kEmbeddingContextTokens = 512;
constexpr int kDebounceMs = 2000;

// llama.cpp narrates every load on stderr; keep only its errors (and their
// continuation lines) so the engine's own lines stay readable.
void quiet_llama_log(ggml_log_level level, const char *text, void *) {
    static thread_local bool in_error = false;
    if (level != GGML_LOG_LEVEL_CONT) in_error = level == GGML_LOG_LEVEL_ERROR;
    if (in_error && text) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
}

// A path that depends on the working directory, made absolute against it as
// it is now: on Windows also "\dir" and "C:dir", which would follow the
// current drive or C:'s current directory. Absolute paths stay as given, and
// so do those that are no name here: opening them reports the failure.
std::string anchored(const std::string &given) {
    if (given.empty()) return given;
    try {
        const std::filesystem::path path = platform::path_from_host(given);
        return path.is_absolute() ? given : platform::path_to_utf8(platform::absolute_path(path));
    } catch (const std::exception &) {
        return given;
    }
}

// The configuration with data_dir created, and it, the index and the models
// made absolute, so that all stay where they were whatever the host's working
// directory becomes (a file dialog can change it). The watched directory keeps
// the form the host settles its reports by.
EngineConfig with_paths_resolved(EngineConfig config) {
    const std::filesystem::path dir = platform::path_from_host(config.data_dir);
    platform::create_directories(dir);
    config.data_dir = platform::path_to_utf8(platform::absolute_path(dir));
    for (std::string *path : {&config.index_path, &config.llm_model_path, &config.embedding_model_path})
        *path = anchored(*path);
    return config;
}

} // namespace

Engine::Engine(const EngineConfig &cfg) : config(with_paths_resolved(cfg)) {}

Engine::~Engine() {
    try {
        shutdown();
    } catch (...) {
        // A destructor must not throw.
    }
}

bool Engine::init() {
    if (initialized) return true;
    try {
        return init_steps();
    } catch (...) {
        // Nothing half-built may outlive a failed start (a retry would leak it).
        shutdown();
        throw;
    }
}

bool Engine::init_steps() {
    log_stdout("[Engine] Initializing Quenda engine...\n");
    llama_log_set(quiet_llama_log, nullptr);
    llama_backend_init();
    llama_numa_init(GGML_NUMA_STRATEGY_DISABLED);

    embed_model = model_loading::load_on_cpu(config.embedding_model_path);
    if (!embed_model) {
        log_stderr("[Engine] Failed to load embedding model: " + config.embedding_model_path + "\n");
        llama_backend_free();
        return false;
    }

    embed_ctx = model_loading::new_context(embed_model, kEmbeddingContextTokens, kEmbeddingContextTokens,
                                           config.n_threads, true);
    if (!embed_ctx) {
        log_stderr("[Engine] Failed to create embedding context\n");
        model_loading::free_model(embed_ctx, embed_model);
        llama_backend_free();
        return false;
    }
    log_stdout("[Engine] Embedding model loaded: " + config.embedding_model_path + "\n");

    // Without its directory no save could ever succeed, and every vector
    // would be lost at the next start.
    if (!create_index_directory()) {
        shutdown();
        return false;
    }
    store = std::make_unique<VectorStore>(config.index_path, config.data_dir + "/metadata.db",
                                          config.embedding_dim, kInitialIndexCapacity, config.hnsw_m,
                                          config.hnsw_ef_construction, config.hnsw_ef_construction);
    if (!store->init()) {
        log_stderr("[Engine] Failed to initialize vector store\n");
        shutdown();
        return false;
    }
    restore_lost_points();
    log_stdout("[Engine] Vector store ready. " + std::to_string(store->element_count()) +
               " vectors indexed.\n");

    {
        std::lock_guard<std::mutex> lock(watch_mutex);
        indexer = std::make_unique<Indexer>(
            config.watch_dir, [this](const std::string &path) { enqueue_changed_file(path); }, kDebounceMs,
            [this](const std::string &path) { settle_gone_file(path); });
    }
    initialized = true;
    log_stdout("[Engine] Initialization complete. (Flutter-driven indexing)\n");
    return true;
}

bool Engine::create_index_directory() {
    std::filesystem::path dir;
    try {
        dir = platform::path_from_host(config.index_path).parent_path();
        if (!dir.empty()) platform::create_directories(dir);
        return true;
    } catch (const std::system_error &e) {
        // A path that cannot be read is named as given.
        log_stderr("[Engine] Failed to create index directory: " +
                   (dir.empty() ? config.index_path : platform::path_to_utf8(dir)) + " (" + e.code().message() + ")\n");
        return false;
    }
}

void Engine::shutdown() {
    // Its destructor stops and joins the watcher, and logs rather than throws.
    {
        std::lock_guard<std::mutex> lock(watch_mutex);
        indexer.reset();
    }

    unload_llm();

    model_loading::free_model(embed_ctx, embed_model);

    // Points added since the last throttled save would otherwise be lost.
    if (store && store->has_unsaved_changes()) store->save_index(true);
    store.reset();

    llama_backend_free();
    initialized = false;
    log_stdout("[Engine] Shutdown complete.\n");
}

// The Indexer's start and stop must not overlap.
void Engine::start_watching() {
    std::lock_guard<std::mutex> lock(watch_mutex);
    if (indexer) indexer->start();
}

void Engine::stop_watching() {
    std::lock_guard<std::mutex> lock(watch_mutex);
    if (indexer) indexer->stop();
}
