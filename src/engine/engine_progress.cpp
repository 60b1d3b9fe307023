#include "engine/engine.h"

#include <algorithm>
#include <exception>

#include "platform/filesystem.h"
#include "platform/paths.h"
#include "store/modification_time.h"

namespace {

// The name as the file system sees it, in the stored path form with each run
// of separators as one: the ANSI and UTF-8 strings of one Windows name meet,
// and a watched directory given with a trailing separator reports "W//a.txt"
// for the file the host names "W/a.txt". A leading pair (a network share) is
// kept.
std::string queue_key(const std::string &path) {
    std::string key;
    try {
        key = platform::path_to_utf8(platform::path_from_host(path));
    } catch (const std::exception &) {
        key = path;  // no name on this platform: only the same bytes match
    }
    key = normalize_path(key);
    const char sep = platform::path_separator();
    const size_t keep = key.size() >= 2 && key[0] == sep && key[1] == sep ? 2 : 1;
    if (key.size() <= keep) return key;
    const auto end = std::unique(key.begin() + static_cast<std::ptrdiff_t>(keep), key.end(),
                                 [sep](char a, char b) { return a == sep && b == sep; });
    key.erase(end, key.end());
    return key;
}

// Whether the file at path still has the modification time indexed.
bool unchanged_since(const std::string &path, int64_t indexed) noexcept {
    try {
        const std::optional<int64_t> now = platform::last_write_ticks_if_exists(platform::path_from_host(path));
        return now && same_modification_time(*now, indexed);
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

void Engine::enqueue_changed_file(const std::string &path) {
    const std::string key = queue_key(path);
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    // A change the host has indexed already (a file it wrote and indexed at
    // once) leaves nothing to do.
    const auto indexed = indexed_times.find(key);
    const bool done = indexed != indexed_times.end() && unchanged_since(path, indexed->second);
    if (!done) pending_files.push_back({key, queued_count++});
    std::lock_guard<std::recursive_mutex> progress_lock(progress_mutex);
    ++progress_total;
    if (done) ++progress_done;
}

uint64_t Engine::queue_mark() {
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    return queued_count;
}

void Engine::settle_queued(const std::string &path, uint64_t mark) {
    const std::string key = queue_key(path);
    const std::optional<int64_t> indexed = store ? store->indexed_time(path) : std::nullopt;
    std::lock_guard<std::mutex> queue_lock(queue_mutex);
    if (indexed) indexed_times[key] = *indexed;
    else indexed_times.erase(key);
    // Tested under the queue lock: an edit made after the test is reported
    // after it, and then stays queued.
    const bool current = indexed && unchanged_since(path, *indexed);
    const auto done = std::remove_if(pending_files.begin(), pending_files.end(), [&](const QueuedChange &c) {
        // A change reported during the call may have come after the content was read.
        return c.key == key && (current || c.seq < mark);
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
