#include <string>

#include "api/buffer_copy.h"
#include "api/export_guard.h"
#include "api/rag_handle.h"

namespace {

std::string or_empty(const char *s) { return s ? s : ""; }

} // namespace

extern "C" {

RAG_API int rag_generate_with_context(rag_handle *h, const char *question, const char *file_path,
                                      const char *context_text, char *buf, int buf_size) {
    if (const int rc = check_answer_call(h, question, buf, buf_size)) return rc;
    return run_guarded(h, RAG_ERR_GENERATION_FAILED, [&] {
        // A named file wins; raw text is taken even when empty.
        const char *source = file_path && *file_path ? file_path : context_text;
        if (!source) return RAG_ERR_INVALID_ARGUMENT;
        return copy_with_ellipsis(h, h->engine->generate_with_context(question, source), buf, buf_size);
    });
}

RAG_API int rag_generate_chat_with_context(rag_handle *h, const char *history, const char *question,
                                           const char *documents, char *buf, int buf_size) {
    if (const int rc = check_answer_call(h, question, buf, buf_size)) return rc;
    return run_guarded(h, RAG_ERR_GENERATION_FAILED, [&] {
        const std::string answer =
            h->engine->generate_chat_with_context(or_empty(history), question, or_empty(documents));
        return copy_with_ellipsis(h, answer, buf, buf_size);
    });
}

RAG_API int rag_rewrite_query(rag_handle *h, const char *history, const char *question, char *buf,
                              int buf_size) {
    if (const int rc = check_answer_call(h, question, buf, buf_size)) return rc;
    bool rewritten = false;
    const int rc = run_guarded(h, RAG_ERR_GENERATION_FAILED, [&] {
        const std::string query = h->engine->rewrite_query(or_empty(history), question);
        rewritten = true;
        return copy_truncating(h, query, buf, buf_size);
    });
    // The host can still search with the question itself.
    if (!rewritten) copy_cut(question, buf, buf_size);
    return rc;
}

} // extern "C"
