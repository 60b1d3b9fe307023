#include "engine/engine.h"

#include <algorithm>

#include "platform/paths.h"

namespace {

// The stored path form with each run of separators as one: a watched
// directory given with a trailing separator reports "W//a.txt" for the file
// the host names "W/a.txt". A leading pair (a network share) is kept.
std::string queue_key(const std::string &path) {
    const char sep = platform::path_separator();
    std::string key = normalize_path(path);
    const size_t keep = key.size() >= 2 && key[0] == sep && key[1] == sep ? 2 : 1;
    if (key.size() <= keep) return key;
    const auto end = std::unique(key.begin() + static_cast<std::ptrdiff_t>(keep), key.end(),
                                 [sep](char a, char b) { return a == sep && b == sep; });
    key.erase(end, key.end());
    return key;
}

} // namespace

void Engine::enqueue_changed_file(const std::string &path) {
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    pending_files.push_back({path, queued_count});
    ++queued_count;
    std::lock_guard<std::recursive_mutex> progress_lock(progress_mutex);
    ++progress_total;
}

uint64_t Engine::queue_mark() {
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    return queued_count;
}

void Engine::settle_queued(const std::string &path, uint64_t mark) {
    const std::string key = queue_key(path);
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    // A change reported during the call may have come after the content was read.
    const auto done = std::remove_if(pending_files.begin(), pending_files.end(), [&](const QueuedChange &c) {
        return c.seq < mark && queue_key(c.path) == key;
    });
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
