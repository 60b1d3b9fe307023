#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// The watcher's reports of changed files, the host's indexing calls that
// settle them, and the progress they add up to. Its lock guards memory only:
// file and store times are read by the callers, outside it, so a status poll
// never waits on the file system.
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

    // A report of the file named key, whose modification time was seen after
    // the change (nullopt: no file). It counts in the total, and as done at
    // once when no call on key runs and the last one to end left the index
    // holding that time.
    void report(const std::string &key, std::optional<int64_t> seen);

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

    Counts counts();

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

    // Removes the queued reports of key that pass settles, counting them done.
    void settle(const std::string &key, const std::function<bool(const Report &)> &settles);

    std::mutex queue_mutex;
    std::deque<Report> pending_files;
    uint64_t queued_count = 0;
    std::unordered_map<std::string, Running> running_calls;
    // The time the index held for each key when the last call on it ended.
    std::unordered_map<std::string, int64_t> indexed_times;
    int32_t progress_total = 0;
    int32_t progress_done = 0;
};
