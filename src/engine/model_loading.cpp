#include "engine/model_loading.h"

#include "llama.h"

#include "platform/filesystem.h"

namespace model_loading {

llama_model *load_on_cpu(const std::string &path) {
    std::string name;
    try {
        const std::filesystem::path file = platform::path_from_host(path);
        if (platform::probe_readable_file(file) != platform::FileAccess::readable) return nullptr;
        name = platform::path_to_utf8(file);  // llama.cpp reads UTF-8 on Windows
    } catch (...) {
        return nullptr;
    }
    llama_model_params params = llama_model_default_params();
    params.n_gpu_layers = 0;
    params.load_mode = LLAMA_LOAD_MODE_MMAP;
    return llama_model_load_from_file(name.c_str(), params);
}

llama_context *new_context(llama_model *model, uint32_t n_ctx, uint32_t n_batch, int32_t n_threads,
                           bool embeddings) {
    llama_context_params params = llama_context_default_params();
    params.n_ctx = n_ctx;
    params.n_batch = n_batch;
    params.n_threads = n_threads;
    params.n_threads_batch = n_threads;
    params.embeddings = embeddings;
    return llama_init_from_model(model, params);
}

void free_model(llama_context *&ctx, llama_model *&model) {
    if (ctx) {
        llama_free(ctx);
        ctx = nullptr;
    }
    if (model) {
        llama_model_free(model);
        model = nullptr;
    }
}

} // namespace model_loading
