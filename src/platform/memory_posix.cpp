#include "platform/memory.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

void release_free_heap() { malloc_trim(0); }

size_t resident_bytes() {
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    const bool read = std::fscanf(f, "%lu %lu", &size, &resident) == 2;
    std::fclose(f);
    return read ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace platform
