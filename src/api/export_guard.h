#pragma once

#include <exception>
#include <utility>

#include "api/rag_handle.h"

// Runs an export's body so that no exception reaches the C caller: a standard
// exception becomes h's last error and failure_code; anything else does too,
// with a generic message.
template <typename Body>
int run_guarded(rag_handle *h, int failure_code, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception &e) {
        set_last_error(h, e.what());
    } catch (...) {
        set_last_error(h, "Unknown error");
    }
    return failure_code;
}

// The argument and initialisation checks of the answering exports: RAG_OK to
// go on, else the code to return (with the last error set when not initialised).
inline int check_answer_call(rag_handle *h, const char *question, const char *buf, int buf_size) noexcept {
    if (!h || !question || !buf || buf_size <= 0) return RAG_ERR_INVALID_ARGUMENT;
    if (!h->engine->is_initialized()) {
        set_last_error(h, kNotInitializedMessage);
        return RAG_ERR_NOT_INITIALIZED;
    }
    return RAG_OK;
}
