#pragma once

#include <cstdint>
#include <string>

// One retrieved chunk as the Engine reports it.
struct SearchResult {
    std::string file_path;  // stored path form
    std::string text;
    float score = 0.0f;
    int32_t chunk_id = 0;
    int32_t page_number = 0;  // always 0
};
