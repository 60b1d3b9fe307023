#pragma once

#include <cstdint>
#include <string>

struct llama_model;
struct llama_context;

namespace model_loading {

// A GGUF model memory-mapped, with no layer on a graphics device; null on
// failure. A path that is not a readable regular file (a FIFO, a directory)
// fails at once instead of being handed to the loader, which would block or
// fail late on it.
llama_model *load_on_cpu(const std::string &path);

// A context on model whose every computation, single tokens and batches
// alike, runs on n_threads threads; null on failure. Embeddings and prompts
// are batches, so leaving the batch count at llama.cpp's default would ignore
// the host's choice exactly where the time goes.
llama_context *new_context(llama_model *model, uint32_t n_ctx, uint32_t n_batch, int32_t n_threads,
                           bool embeddings);

// Frees the context, then its model, and clears both handles.
void free_model(llama_context *&ctx, llama_model *&model);

} // namespace model_loading
