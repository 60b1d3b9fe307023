#pragma once

#include <cstddef>

namespace platform {

// Hands freed heap memory back to the operating system (after a large model
// is released).
void release_free_heap();

// Bytes of the process now resident in memory; 0 when unknown.
size_t resident_bytes();

} // namespace platform
