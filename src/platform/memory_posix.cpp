#include "platform/memory.h"

#include <malloc.h>

namespace platform {

void release_free_heap() { malloc_trim(0); }

} // namespace platform
