#pragma once

#include <string>

struct llama_model;
struct llama_context;

namespace model_loading {

// A GGUF model memory-mapped, with no layer on a graphics device; null on
// failure. A path that is not a readable regular file (a FIFO, a directory)
// fails at once instead of being handed to the loader, which would block or
// fail late on it.
llama_model *load_on_cpu(const std::string &path);

// Frees the context, then its model, and clears both handles.
void free_model(llama_context *&ctx, llama_model *&model);

} // namespace model_loading
