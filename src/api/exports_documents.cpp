#include <string>

#include "api/buffer_copy.h"
#include "api/export_guard.h"
#include "api/rag_handle.h"

extern "C" {

RAG_API int rag_add_document(rag_handle *h, const char *path) {
    if (!h || !path) return RAG_ERR_INVALID_ARGUMENT;
    if (!h->engine->is_initialized()) {
        set_last_error(h, "Engine not initialized. Call rag_init() first.");
        return RAG_ERR_NOT_INITIALIZED;
    }
    return run_guarded(h, RAG_ERR_DOCUMENT_FAILED, [&] {
        const std::string p(path);
        if (h->engine->add_document(p)) return RAG_OK;
        set_last_error(h, "Failed to index: " + p);
        return RAG_ERR_DOCUMENT_FAILED;
    });
}

RAG_API int rag_add_text_document(rag_handle *h, const char *path, const char *text) {
    if (!h || !path || !text) return RAG_ERR_INVALID_ARGUMENT;
    if (!h->engine->is_initialized()) {
        set_last_error(h, kNotInitializedMessage);
        return RAG_ERR_NOT_INITIALIZED;
    }
    return run_guarded(h, RAG_ERR_DOCUMENT_FAILED, [&] {
        const std::string t(text);
        const std::string p(path);
        if (h->engine->add_text_document(p, t)) return RAG_OK;
        set_last_error(h, "Failed to index text for: " + p);
        return RAG_ERR_DOCUMENT_FAILED;
    });
}

RAG_API int rag_remove_document(rag_handle *h, const char *path) {
    if (!h || !path) return RAG_ERR_INVALID_ARGUMENT;
    if (!h->engine->is_initialized()) return RAG_ERR_NOT_INITIALIZED;
    return run_guarded(h, RAG_ERR_DOCUMENT_FAILED, [&] {
        h->engine->remove_document(path);
        return RAG_OK;
    });
}

RAG_API int rag_is_file_indexed(rag_handle *h, const char *path) {
    if (!h || !path) return RAG_ERR_INVALID_ARGUMENT;
    try {
        return h->engine->is_file_indexed(path) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

RAG_API int rag_get_indexed_files(rag_handle *h, char *buf, int buf_size) {
    if (!h || !buf || buf_size <= 0) return RAG_ERR_INVALID_ARGUMENT;
    return run_guarded(h, RAG_ERR_INVALID_ARGUMENT, [&] {
        std::string text;
        for (const std::string &file : h->engine->get_indexed_files()) {
            text += file;
            text += '\n';
        }
        return copy_whole_or_nothing(text, buf, buf_size);
    });
}

RAG_API int rag_get_document_text(rag_handle *h, const char *path, char *buf, int buf_size) {
    if (!h || !path || !buf || buf_size <= 0) return RAG_ERR_INVALID_ARGUMENT;
    return run_guarded(h, RAG_ERR_DOCUMENT_FAILED, [&] {
        return copy_whole_or_nothing(h->engine->get_document_text(path), buf, buf_size);
    });
}

} // extern "C"
