#include "platform/memory.h"

#include <malloc.h>

namespace platform {

void release_free_heap() { _heapmin(); }

} // namespace platform
