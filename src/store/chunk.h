#pragma once

#include <cstdint>
#include <string>

// One piece of a document as stored.
struct Chunk {
    int32_t chunk_id = 0;     // position among the stored chunks of its document, from 0
    int32_t page_number = 0;
    std::string file_path;    // as the caller gave it; the store keys rows by normalize_path()
    std::string text;
};
