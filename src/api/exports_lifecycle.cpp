#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "api/rag_handle.h"
#include "api/export_guard.h"

namespace {

void copy_to_error_buffer(rag_handle *h, const char *data, size_t size) noexcept {
    const size_t n = std::min<size_t>(size, sizeof(h->last_error_buf) - 1);
    std::memmove(h->last_error_buf, data, n);
    h->last_error_buf[n] = '\0';
}

// More threads than logical processors only slow llama.cpp down, and a huge
// count would never finish a batch.
int thread_count(int requested) {
    const int wanted = requested > 0 ? requested : 4;
    const unsigned logical = std::thread::hardware_concurrency();
    return logical > 0 ? static_cast<int>(std::min<unsigned>(wanted, logical)) : wanted;
}

} // namespace

void set_last_error(rag_handle *h, const std::string &message) noexcept {
    std::lock_guard<std::mutex> lock(h->last_error_mutex);
    copy_to_error_buffer(h, message.data(), message.size());
    try {
        if (&message != &h->last_error) h->last_error = message;
    } catch (...) {
        // The C copy above is what the host reads; the full text is a bonus.
    }
}

void set_last_error(rag_handle *h, const char *message) noexcept {
    std::lock_guard<std::mutex> lock(h->last_error_mutex);
    copy_to_error_buffer(h, message, std::strlen(message));
    try {
        h->last_error = message;
    } catch (...) {
    }
}

extern "C" {

RAG_API rag_handle *rag_create(const char *llm_model_path, const char *embedding_model_path,
                               const char *index_path, const char *watch_dir, const char *data_dir,
                               int n_ctx, int n_threads) {
    if (!llm_model_path || !embedding_model_path || !index_path || !watch_dir || !data_dir)
        return nullptr;
    rag_handle *h = new (std::nothrow) rag_handle();
    if (!h) return nullptr;
    try {
        EngineConfig config;
        config.llm_model_path = llm_model_path;
        config.embedding_model_path = embedding_model_path;
        config.index_path = index_path;
        config.watch_dir = watch_dir;
        config.data_dir = data_dir;
        config.n_ctx = n_ctx > 0 ? n_ctx : 2048;
        config.n_threads = thread_count(n_threads);
        h->engine = std::make_unique<Engine>(config);
        return h;
    } catch (...) {
        delete h;
        return nullptr;
    }
}

RAG_API int rag_init(rag_handle *h) {
    if (!h) return RAG_ERR_INVALID_ARGUMENT;
    return run_guarded(h, RAG_ERR_INIT_FAILED, [&] {
        if (h->engine->init()) return RAG_OK;
        set_last_error(h, "Engine initialization failed. Check model paths.");
        return RAG_ERR_INIT_FAILED;
    });
}

RAG_API void rag_destroy(rag_handle *h) {
    if (!h) return;
    try {
        delete h;
    } catch (...) {
        // The engine's destructor already swallows shutdown failures.
    }
}

RAG_API const char *rag_last_error(rag_handle *h) {
    if (!h) return "null handle";
    return h->last_error_buf;
}

RAG_API const char *rag_version(void) { return "2.2"; }

} // extern "C"
