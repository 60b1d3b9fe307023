#include "engine/engine.h"

#include <algorithm>

void Engine::enqueue_changed_file(const std::string &path) {
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    pending_files.push_back(path);
    std::lock_guard<std::recursive_mutex> progress_lock(progress_mutex);
    ++progress_total;
}

void Engine::settle_queued(const std::string &path) {
    const std::string key = normalize_path(path);
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    const auto done = std::remove_if(pending_files.begin(), pending_files.end(),
                                     [&](const std::string &p) { return normalize_path(p) == key; });
    const auto settled = static_cast<int32_t>(pending_files.end() - done);
    pending_files.erase(done, pending_files.end());
    std::lock_guard<std::recursive_mutex> progress_lock(progress_mutex);
    progress_done += settled;
}

void Engine::get_indexing_progress(int *done, int *total) {
    std::lock_guard<std::recursive_mutex> lock(progress_mutex);
    if (done) *done = progress_done;
    if (total) *total = progress_total;
}

std::string Engine::get_indexing_status() {
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    std::lock_guard<std::recursive_mutex> progress_lock(progress_mutex);
    if (current_file.empty() && pending_files.empty()) return "";
    std::string line = current_file.empty() ? "Preparing..." : "Indexing: " + current_file;
    if (progress_total > 0)
        line += " (" + std::to_string(progress_done) + "/" + std::to_string(progress_total) + ")";
    return line;
}
