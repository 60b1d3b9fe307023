#include <exception>
#include <string>

#include "api/buffer_copy.h"
#include "api/export_guard.h"
#include "api/rag_handle.h"
#include "common/log.h"

namespace {

// Watching has no result to report a failure with; it is logged instead.
template <typename Body>
void run_logged(Body &&body) noexcept {
    try {
        body();
    } catch (const std::exception &e) {
        log_stderr(std::string("[Indexer] ") + e.what() + "\n");
    } catch (...) {
        log_stderr("[Indexer] Unknown error\n");
    }
}

} // namespace

extern "C" {

RAG_API int rag_get_indexing_progress(rag_handle *h, int *done, int *total) {
    if (!h || !done || !total) return RAG_ERR_INVALID_ARGUMENT;
    return run_guarded(h, RAG_ERR_INVALID_ARGUMENT, [&] {
        h->engine->get_indexing_progress(done, total);
        return RAG_OK;
    });
}

RAG_API int rag_get_indexing_status(rag_handle *h, char *buf, int buf_size) {
    if (!h || !buf || buf_size <= 0) return RAG_ERR_INVALID_ARGUMENT;
    return run_guarded(h, RAG_ERR_INVALID_ARGUMENT, [&] {
        return copy_whole_or_nothing(h->engine->get_indexing_status(), buf, buf_size);
    });
}

RAG_API void rag_start_watching(rag_handle *h) {
    if (h) run_logged([&] { h->engine->start_watching(); });
}

RAG_API void rag_stop_watching(rag_handle *h) {
    if (h) run_logged([&] { h->engine->stop_watching(); });
}

} // extern "C"
