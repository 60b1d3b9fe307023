#pragma once

#include <cstdint>
#include <string>

// One hit of VectorStore::search.
struct ChunkHit {
    int32_t label = 0;
    float score = 0.0f;
    int32_t chunk_id = 0;
    int32_t page_number = 0;
    std::string file_path;  // stored path form
    std::string text;
};
