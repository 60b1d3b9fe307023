#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "engine/engine.h"
#include "rag.h"

// What the host's opaque pointer refers to.
struct rag_handle {
    std::unique_ptr<Engine> engine;  // always set for a handle rag_create returned
    std::mutex last_error_mutex;  // indexing and search calls may fail on several threads
    std::string last_error;
    char last_error_buf[1024] = {0};
};

// Keeps message as h's last error; the C copy holds at most its first 1023 bytes.
void set_last_error(rag_handle *h, const std::string &message) noexcept;
// Same, without allocating a temporary (safe inside an exception handler).
void set_last_error(rag_handle *h, const char *message) noexcept;

// Messages shared by several exports.
inline constexpr const char *kNotInitializedMessage = "Engine not initialized.";
