#include "engine/engine.h"

std::string Engine::current_file_name() {
    std::lock_guard<std::recursive_mutex> lock(progress_mutex);
    return current_file;
}
