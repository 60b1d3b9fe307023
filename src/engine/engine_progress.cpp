#include "engine/engine.h"

#include <algorithm>
#include <exception>

#include "platform/filesystem.h"
#include "platform/paths.h"

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

// What can be seen of a file: gone, or there with its modification time
// (nullopt when that cannot be read; then it is not known to be gone either).
struct FileLook {
    bool gone = false;
    std::optional<int64_t> time;
};

FileLook look_at(const std::string &path) noexcept {
    try {
        const std::optional<int64_t> time = platform::last_write_ticks_if_exists(platform::path_from_host(path));
        return {!time, time};
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace

void Engine::enqueue_changed_file(const std::string &path) {
    const FileLook look = look_at(path);
    if (look.gone) changes.report_gone();
    else changes.report(queue_key(path), look.time);
}

void Engine::settle_gone_file(const std::string &path) {
    const std::string key = queue_key(path);
    // A root ("/", "C:\\") ends in its separator already.
    const char sep = platform::path_separator();
    const ChangeQueue::Queued queued = changes.queued(key, !key.empty() && key.back() == sep ? key : key + sep);
    // A key names its file as the file system does, so it can be looked at.
    std::vector<std::string> gone;
    for (const std::string &k : queued.keys)
        if (look_at(k).gone) gone.push_back(k);
    changes.settle_gone(gone, queued.mark);
}

Engine::DocumentCall::DocumentCall(Engine &engine, const std::string &path) noexcept : engine(engine), path(path) {
    try {
        call = engine.changes.begin(queue_key(path));
    } catch (...) {
        // Only the progress count stays behind.
    }
}

Engine::DocumentCall::~DocumentCall() {
    if (!call) return;
    try {
        engine.changes.end(*call, [this] {
            ChangeQueue::Outcome outcome;
            outcome.indexed = engine.store ? engine.store->indexed_time(path) : std::nullopt;
            if (outcome.indexed) outcome.now = look_at(path).time;
            return outcome;
        });
    } catch (...) {
        // Only the progress count is behind; the call's own result stands.
    }
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
