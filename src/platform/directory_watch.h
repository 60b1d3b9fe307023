#pragma once

// Change notification for one directory tree. Linux: directory_watch_posix.cpp
// (inotify, one watch per directory set up by walking the tree, an eventfd for
// the wake-up). Windows: directory_watch_win.cpp
// (an overlapped ReadDirectoryChangesW on the whole subtree; the wake-up
// cancels the pending read under a guard, so a closed handle is never
// cancelled).

#include <memory>
#include <string>
#include <vector>

namespace platform {

class DirectoryWatch {
public:
    // One change, named relative to the watched directory with this
    // platform's separators; a name that cannot be converted is "".
    struct Change {
        enum class Kind {
            written,         // a file created, written, given a new write time or moved in
                             // (also inside a directory moved in)
            gone,            // a file deleted or moved away (out of the tree, or renamed)
            directory_gone,  // a directory deleted or moved away, with all below it;
                             // Windows, asked for file names only, never reports one
        };
        Kind kind;
        std::string name;
    };

    // What one wait for changes ended with.
    struct Batch {
        enum class Status {
            changed,    // changes holds this batch (see lost)
            timed_out,  // nothing arrived within the wait
            woken,      // wake() was called
            failed,     // watching cannot go on; error says why ("" when there is nothing to log)
        };
        Status status = Status::timed_out;
        // In the order they happened.
        std::vector<Change> changes;
        std::string error;
        // Changes were dropped (overflow), deletions among them: names reported
        // before may be gone unseen. The tree is watched afresh from here on.
        bool lost = false;
        // With any status: the first directory below which changes go unseen
        // and why ("" when all is watched), once per walk of the tree.
        std::string note;
    };

    // Sets up the wake-up only; opens nothing. Throws std::system_error when
    // the platform cannot provide a wake-up.
    DirectoryWatch();
    // Closes everything still open.
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch &) = delete;
    DirectoryWatch &operator=(const DirectoryWatch &) = delete;

    // Opens directory (read as path_from_host reads a path; names come back in
    // the encoding it was given in) for changes anywhere below it; changes are
    // collected from here on, also between calls of next_batch. Returns 0, or
    // the platform's error code (errno, GetLastError()) when it cannot. Called
    // once, before next_batch. Where the tree must be walked to be watched,
    // wake() cuts the walk short.
    unsigned long open(const std::string &directory);

    // Waits at most timeout_ms for the next batch of changes. Returns woken at
    // once, without waiting, once wake() has been called; a walk of a subtree
    // (moved in, or all of it after an overflow) gives up then too.
    Batch next_batch(int timeout_ms);

    // Ends the current wait and every later one. The only call that may come
    // from another thread; valid at any time while the object exists.
    void wake();

    // Stops collecting and releases the directory, finishing any read still
    // pending first. Idempotent; the destructor does it too.
    void close();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Lowers the calling thread to the platform's idle priority (SCHED_IDLE,
// THREAD_PRIORITY_IDLE), so it runs only when nothing else wants the processor.
// Best effort: a refusal is ignored.
void lower_current_thread_to_idle();

} // namespace platform
