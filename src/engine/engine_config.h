#pragma once

#include <cstdint>
#include <string>

// Built once by rag_create and copied into the Engine, which makes every path
// but watch_dir absolute; never changed after.
struct EngineConfig {
    std::string llm_model_path;
    std::string embedding_model_path;
    std::string index_path;
    std::string watch_dir;
    std::string data_dir;
    int32_t n_ctx = 2048;
    int32_t n_threads = 4;
    int32_t n_batch = 512;
    float temperature = 0.7f;
    int32_t top_k = 3;
    int32_t chunk_size = 512;
    int32_t chunk_overlap = 64;
    int32_t embedding_dim = 384;
    int32_t hnsw_m = 16;
    int32_t hnsw_ef_construction = 200;
};
