#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The watcher's reports of changed files, the host's indexing calls and the
// deletions that settle them, and the progress they add up to. Its lock
// guards memory only: file and store times are read by the callers, outside
// it. The progress is read without the lock, so a poll waits neither on the
// file system nor on the watcher's thread, which runs at idle priority and
// may be preempted while it holds the lock.
class ChangeQueue {
public:
    // One host indexing or removal call, from begin() to end().
    struct Call {
        std::string key;
        uint64_t mark;  // reports numbered below it came before the call
    };
    // What a call left: the time the index holds for the path, and the
    // file's time now (either nullopt when there is none).
    struct Outcome {
        std::optional<int64_t> indexed;
        std::optional<int64_t> now;
    };
    struct Counts {
        int32_t done = 0;
        int32_t total = 0;
        bool pending = false;  // reports not yet settled
    };
    // Keys with queued reports, and the point up to which they were queued.
    struct Queued {
        std::vector<std::string> keys;
        uint64_t mark = 0;
    };

    // A report of the file named key, whose modification time was seen after
    // the change (nullopt: it could not be read). It counts in the total, and
    // as done at once when no call on key runs and the last one to end left
    // the index holding that time.
    void report(const std::string &key, std::optional<int64_t> seen);
    // A report of a file already gone when it was looked at: it counts in
    // the total and as done.
    void report_gone();

    // The keys with queued reports that equal key or begin with below (key
    // and a separator, for the files under a directory).
    Queued queued(const std::string &key, const std::string &below);
    // The reports of keys queued before mark count as done: their files were
    // seen gone after the mark was taken.
    void settle_gone(const std::vector<std::string> &keys, uint64_t mark);

    // A call on key begins: reports of key made from now on are judged by
    // the outcome of the last call on key to end.
    Call begin(const std::string &key);

    // The call has ended. Reports queued before it began count as done,
    // whatever came of it. When no other call on its key runs, read() (made
    // without the lock, and again if another call on the key ended meanwhile)
    // gives the outcome; its time is kept for later reports, and each queued
    // report that saw that time counts as done while the file still has it.
    // A read that throws counts as nothing indexed.
    void end(const Call &call, const std::function<Outcome()> &read);

    // Takes no lock: done and total as they were at one moment.
    Counts counts() const noexcept;

private:
    struct Report {
        std::string key;
        uint64_t seq;                 // order of report, from 0
        std::optional<int64_t> seen;  // the file's time when reported
    };
    struct Running {
        int calls = 0;
        uint64_t ended = 0;  // calls on the key that ended while others ran
    };

    // Removes the queued reports that pass settles, counting them done.
    void settle(const std::function<bool(const Report &)> &settles);
    // Adds to the counts; under queue_mutex, so there is one writer at a time.
    void add_progress(uint32_t done, uint32_t total);

    std::mutex queue_mutex;
    std::deque<Report> pending_files;
    uint64_t queued_count = 0;
    std::unordered_map<std::string, Running> running_calls;
    // The time the index held for each key when the last call on it ended.
    std::unordered_map<std::string, int64_t> indexed_times;
    // progress_done in the low half, progress_total in the high one, so that
    // one load reads both as they were. Every queued report is counted in the
    // total and not yet done: done < total exactly while one waits.
    std::atomic<uint64_t> progress{0};
};
