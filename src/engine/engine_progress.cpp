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

// The file's modification time; nullopt when there is none to read.
std::optional<int64_t> file_time(const std::string &path) noexcept {
    try {
        return platform::last_write_ticks_if_exists(platform::path_from_host(path));
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

} // namespace

void Engine::enqueue_changed_file(const std::string &path) {
    const std::string key = queue_key(path);
    changes.report(key, file_time(path));
}

ChangeQueue::Call Engine::begin_document_call(const std::string &path) { return changes.begin(queue_key(path)); }

void Engine::end_document_call(const std::string &path, const ChangeQueue::Call &call) {
    changes.end(call, [&] {
        ChangeQueue::Outcome outcome;
        outcome.indexed = store ? store->indexed_time(path) : std::nullopt;
        if (outcome.indexed) {
            const std::optional<int64_t> now = file_time(path);
            outcome.current = now && same_modification_time(*now, *outcome.indexed);
        }
        return outcome;
    });
}

void Engine::get_indexing_progress(int *done, int *total) {
    const ChangeQueue::Counts counts = changes.counts();
    if (done) *done = counts.done;
    if (total) *total = counts.total;
}

std::string Engine::get_indexing_status() {
    const ChangeQueue::Counts counts = changes.counts();
    std::lock_guard<std::recursive_mutex> lock(progress_mutex);
    if (current_file.empty() && !counts.pending) return "";
    std::string line = current_file.empty() ? "Preparing..." : "Indexing: " + current_file;
    if (counts.total > 0) line += " (" + std::to_string(counts.done) + "/" + std::to_string(counts.total) + ")";
    return line;
}
