#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/directory_watch.h"

// Watches one directory tree on a background thread of idle priority and
// reports each supported file that is created, written or renamed into it,
// at most once per path within the debounce interval. Supported files and
// (where the platform tells) directories that are deleted or moved away are
// passed on too, so that their reports can settle; such a name may be
// reported again at once. So is the directory itself whenever names below it
// may have gone unseen: as each run begins, and after lost events. It indexes
// nothing.
//
// start, stop and destruction come from host threads and must not overlap;
// the callbacks run on the watcher thread and must not stop the watcher.
class Indexer {
public:
    using ChangeCallback = std::function<void(const std::string &)>;

    // Keeps the arguments; opens and starts nothing. directory is used as
    // given, both to open and as the prefix of every path passed on.
    // on_change gets changed files, on_gone the names that went away and the
    // directory whenever any name below it may have.
    Indexer(const std::string &directory, ChangeCallback on_change, int debounce_ms,
            ChangeCallback on_gone = nullptr);
    // Stops watching, then joins a watcher that ended by itself.
    ~Indexer();
    Indexer(const Indexer &) = delete;
    Indexer &operator=(const Indexer &) = delete;

    // Starts the watcher thread unless it runs. Throws std::system_error when
    // no thread (or wake-up) can be made.
    void start();
    // Ends the watcher and waits for its thread, which leaves any wait at
    // once. Throws the thread library's std::system_error when the join fails.
    void stop();
    bool is_running() const { return running.load(); }

private:
    void thread_main();
    void watch_loop(platform::DirectoryWatch &watch);
    void handle(const platform::DirectoryWatch::Change &change);
    void report(const std::string &path);
    void report_gone(const std::string &path, bool is_directory);
    void notify(const ChangeCallback &callback, const std::string &path);

    const std::string directory;
    const ChangeCallback on_change;
    const int debounce_ms;
    const ChangeCallback on_gone;
    // Cleared by stop, by a start that could not start the thread, or by the
    // thread when it ends by itself (the directory cannot be opened, a wait
    // for changes failed).
    std::atomic<bool> running{false};
    std::thread thread;
    // Made before the thread starts and released after it is joined, so the
    // wake-up outlives every use of it.
    std::unique_ptr<platform::DirectoryWatch> watch;
    // Watcher thread only. Kept across runs; entries past the debounce window
    // are dropped once the map reaches prune_at, so a long watch stays small.
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> last_event;
    size_t prune_at = 1024;
};
