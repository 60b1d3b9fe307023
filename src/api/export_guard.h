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
