#include "indexer/indexer.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "common/log.h"
#include "indexer/supported_file.h"
#include "platform/paths.h"

namespace {

constexpr int kWaitSliceMs = 1000;

} // namespace

Indexer::Indexer(const std::string &directory, ChangeCallback on_change, int debounce_ms, ChangeCallback on_gone)
    : directory(directory), on_change(std::move(on_change)), debounce_ms(debounce_ms), on_gone(std::move(on_gone)) {}

Indexer::~Indexer() {
    try {
        stop();
        if (thread.joinable()) thread.join();
    } catch (const std::exception &e) {
        log_stderr(std::string("[Indexer] ") + e.what() + "\n");
    }
}

void Indexer::start() {
    if (running.exchange(true)) return;
    // A watcher that ended by itself (the directory did not open, or a wait failed).
    if (thread.joinable()) thread.join();
    try {
        watch = std::make_unique<platform::DirectoryWatch>();
        thread = std::thread(&Indexer::thread_main, this);
    } catch (...) {
        running.store(false);  // nothing runs, so a later start tries again
        throw;
    }
}

void Indexer::stop() {
    if (!running.exchange(false)) return;
    if (watch) watch->wake();
    if (thread.joinable()) thread.join();
    watch.reset();
}

void Indexer::thread_main() {
    platform::lower_current_thread_to_idle();
    log_stdout("[Indexer] Watcher thread started (IDLE priority)\n");
    try {
        watch_loop(*watch);
    } catch (const std::exception &e) {
        log_stderr(std::string("[Indexer] Watcher error: ") + e.what() + "\n");
    } catch (...) {
        log_stderr("[Indexer] Watcher error\n");
    }
    watch->close();
    // Whatever ended it, a later start watches again.
    running.store(false);
    log_stdout("[Indexer] Watcher thread stopped\n");
}

void Indexer::watch_loop(platform::DirectoryWatch &w) {
    using Status = platform::DirectoryWatch::Batch::Status;
    if (const unsigned long error = w.open(directory)) {
        log_stderr("[Indexer] Failed to open directory: " + directory + " (error " +
                   std::to_string(error) + ")\n");
        return;
    }
    // Files may have gone while nothing watched.
    notify(on_gone, directory);
    while (running.load()) {
        const platform::DirectoryWatch::Batch batch = w.next_batch(kWaitSliceMs);
        if (!running.load()) return;  // a batch not yet walked is dropped
        if (!batch.note.empty()) log_stderr("[Indexer] " + batch.note + "\n");
        if (batch.status == Status::failed) {
            if (!batch.error.empty()) log_stderr("[Indexer] " + batch.error + "\n");
            return;
        }
        for (const platform::DirectoryWatch::Change &change : batch.changes) handle(change);
        if (batch.lost) notify(on_gone, directory);
    }
}

void Indexer::handle(const platform::DirectoryWatch::Change &change) {
    using Kind = platform::DirectoryWatch::Change::Kind;
    const std::string path = directory + platform::path_separator() + change.name;
    if (change.kind == Kind::written) report(path);
    else report_gone(path, change.kind == Kind::directory_gone);
}

void Indexer::report(const std::string &path) {
    if (!is_supported_file(path)) return;
    const auto now = std::chrono::steady_clock::now();
    const auto debounced = [&](std::chrono::steady_clock::time_point at) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - at).count() < debounce_ms;
    };
    const auto last = last_event.find(path);
    if (last != last_event.end() && debounced(last->second)) return;
    if (last_event.size() >= prune_at) {
        for (auto it = last_event.begin(); it != last_event.end();)
            it = debounced(it->second) ? std::next(it) : last_event.erase(it);
        prune_at = std::max<size_t>(1024, 2 * last_event.size());
    }
    last_event[path] = now;
    log_stdout("[Indexer] File changed: " + path + "\n");
    notify(on_change, path);
}

// A name written again right after it went away (an editor that saves by
// replacing the file) is a new change, so its debounce window ends here.
void Indexer::report_gone(const std::string &path, bool is_directory) {
    if (is_directory) {
        const std::string below = path + platform::path_separator();
        for (auto it = last_event.begin(); it != last_event.end();)
            it = it->first.compare(0, below.size(), below) == 0 ? last_event.erase(it) : std::next(it);
    } else {
        if (!is_supported_file(path)) return;
        last_event.erase(path);
    }
    notify(on_gone, path);
}

void Indexer::notify(const ChangeCallback &callback, const std::string &path) {
    if (!callback) return;
    try {
        callback(path);
    } catch (const std::exception &e) {
        // One lost report must not end watching.
        log_stderr("[Indexer] Change callback failed for " + path + ": " + e.what() + "\n");
    }
}
