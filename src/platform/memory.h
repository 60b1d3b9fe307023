#pragma once

namespace platform {

// Hands freed heap memory back to the operating system (after a large model
// is released).
void release_free_heap();

} // namespace platform
