#include "platform/directory_watch.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>

namespace platform {
namespace {

// Created, written, new times (IN_ATTRIB), moved in, deleted, moved away.
// The root may be a link.
constexpr uint32_t kWatchMask =
    IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
constexpr size_t kBufferSize = 65536;

std::string join(const std::string &parent, const std::string &name) {
    return parent.empty() ? name : parent + '/' + name;
}

bool is_directory(const std::string &path, const dirent *entry) {
    if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void close_fd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Gone again, or replaced by a file, since it was seen: nothing is missed.
bool is_gone(int error) { return error == ENOENT || error == ENOTDIR; }

std::string reason(int error) {
    if (error == ENOSPC) return "the inotify watch limit (fs.inotify.max_user_watches) is reached";
    return std::generic_category().message(error);
}

// inotify does not say which attribute changed. Setting a file's modification
// time sets its status-change time to now as well, while a change of mode,
// owner, extended attributes or access time leaves the modification time
// behind: so a modification time at most a second older than the status
// change counts as new. Limits: a time set into the past (touch -d, cp -p)
// goes unreported, and an attribute change within a second of a write is
// reported (the debounce mostly absorbs it).
bool has_new_modification_time(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    const auto ns = [](const timespec &t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
    return ns(st.st_mtim) >= ns(st.st_ctim) - 1000000000;
}

} // namespace

struct DirectoryWatch::State {
    using Change = DirectoryWatch::Change;

    std::atomic<bool> woken{false};
    int wake_fd = -1;

    // Watcher thread only.
    int notify_fd = -1;
    std::string root;
    std::unordered_map<int, std::string> dirs;  // watch descriptor -> path below root ("" for root)
    std::string open_note;                      // the first walk's, for the first batch
    alignas(inotify_event) char buffer[kBufferSize];

    std::string full(const std::string &relative) const {
        return relative.empty() ? root : root + '/' + relative;
    }

    // Watches the directory relative and everything below it. Each directory
    // is read whole and closed before its subdirectories are visited, so the
    // depth of a tree costs no descriptors. With files set, the files met are
    // listed too, as written: they came into the tree with it (moved in), or
    // were written before a watch existed (just created). Gives up once woken.
    // The first subtree left unwatched is described in note, unless it holds
    // one already. Returns errno when relative itself cannot be watched, else 0.
    int watch_tree(const std::string &relative, std::vector<Change> *files, std::string &note) {
        const auto unwatched = [&](const std::string &what, int error) {
            if (note.empty() && !is_gone(error)) note = what + reason(error);
        };
        std::vector<std::string> pending = {relative};
        while (!pending.empty() && !woken.load()) {
            const std::string dir = std::move(pending.back());
            pending.pop_back();
            const std::string path = full(dir);
            const uint32_t mask = dir.empty() ? kWatchMask : kWatchMask | IN_DONT_FOLLOW;
            const int wd = inotify_add_watch(notify_fd, path.c_str(), mask);
            if (wd < 0) {
                const int error = errno;
                unwatched("Not watching " + path + " and below: ", error);
                if (dir == relative) return error;
                continue;
            }
            dirs[wd] = dir;
            DIR *listing = ::opendir(path.c_str());
            if (!listing) {
                unwatched("Not watching below " + path + ", which cannot be listed: ", errno);
                continue;
            }
            while (const dirent *entry = ::readdir(listing)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                const std::string child = join(dir, name);
                if (is_directory(full(child), entry)) pending.push_back(child);
                else if (files) files->push_back({Change::Kind::written, child});
            }
            ::closedir(listing);
        }
        return 0;
    }

    void forget_tree(const std::string &relative) {
        for (auto it = dirs.begin(); it != dirs.end();) {
            const std::string &p = it->second;
            if (p == relative || p.compare(0, relative.size() + 1, relative + '/') == 0) {
                inotify_rm_watch(notify_fd, it->first);
                it = dirs.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Events were lost, moves of directories among them, so the watches are
    // set up again for the tree as it is now. A fresh instance drops the old
    // ones at once (removing each would queue an event per directory), and
    // with them what the buffer still holds.
    void rebuild(Batch &batch) {
        close_fd(notify_fd);
        dirs.clear();
        notify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const int error = notify_fd < 0 ? errno : watch_tree("", nullptr, batch.note);
        if (!error) return;
        batch.note.clear();  // the error below says it, once
        batch.status = Batch::Status::failed;
        batch.error = "Cannot watch " + root + " again after lost events: " + reason(error);
    }

    // False when the rest of the buffer no longer applies.
    bool handle(const inotify_event &event, Batch &batch) {
        if (event.mask & IN_Q_OVERFLOW) {
            batch.lost = true;
            rebuild(batch);
            return false;
        }
        if (event.mask & IN_IGNORED) {
            dirs.erase(event.wd);
            return true;
        }
        const auto dir = dirs.find(event.wd);
        if (dir == dirs.end() || event.len == 0) return true;
        const std::string relative = join(dir->second, event.name);
        if (event.mask & IN_ISDIR) {
            // A deleted directory's watch ends by itself (IN_IGNORED).
            if (event.mask & IN_MOVED_FROM) forget_tree(relative);
            if (event.mask & (IN_MOVED_FROM | IN_DELETE))
                batch.changes.push_back({Change::Kind::directory_gone, relative});
            else if (event.mask & (IN_CREATE | IN_MOVED_TO))
                watch_tree(relative, &batch.changes, batch.note);
            return true;
        }
        if (event.mask & (IN_MOVED_FROM | IN_DELETE))
            batch.changes.push_back({Change::Kind::gone, relative});
        else if ((event.mask & (IN_CREATE | IN_MODIFY | IN_MOVED_TO)) ||
                 ((event.mask & IN_ATTRIB) && has_new_modification_time(full(relative))))
            batch.changes.push_back({Change::Kind::written, relative});
        return true;
    }
};

DirectoryWatch::DirectoryWatch() : state(std::make_unique<State>()) {
    state->wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->wake_fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

DirectoryWatch::~DirectoryWatch() {
    close();
    close_fd(state->wake_fd);
}

unsigned long DirectoryWatch::open(const std::string &directory) {
    state->notify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state->notify_fd < 0) return static_cast<unsigned long>(errno);
    state->root = directory;
    if (const int error = state->watch_tree("", nullptr, state->open_note)) {
        close_fd(state->notify_fd);
        state->open_note.clear();
        return static_cast<unsigned long>(error);
    }
    return 0;
}

DirectoryWatch::Batch DirectoryWatch::next_batch(int timeout_ms) {
    Batch batch;
    batch.note.swap(state->open_note);
    pollfd fds[2] = {{state->wake_fd, POLLIN, 0}, {state->notify_fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeout_ms);
    if (ready < 0 && errno != EINTR) {
        batch.status = Batch::Status::failed;
        batch.error = "poll error: " + std::to_string(errno);
        return batch;
    }
    if (ready > 0 && fds[0].revents) {
        batch.status = Batch::Status::woken;
        return batch;
    }
    if (ready <= 0 || !(fds[1].revents & POLLIN)) return batch;

    const ssize_t got = ::read(state->notify_fd, state->buffer, kBufferSize);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) return batch;
        batch.status = Batch::Status::failed;
        batch.error = "inotify read error: " + std::to_string(errno);
        return batch;
    }
    batch.status = Batch::Status::changed;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        const auto *event = reinterpret_cast<const inotify_event *>(state->buffer + at);
        if (!state->handle(*event, batch)) break;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return batch;
}

void DirectoryWatch::wake() {
    state->woken.store(true);
    const uint64_t one = 1;
    // A full counter already wakes every wait; nothing else can go wrong.
    [[maybe_unused]] const ssize_t n = ::write(state->wake_fd, &one, sizeof one);
}

void DirectoryWatch::close() {
    close_fd(state->notify_fd);
    state->dirs.clear();
}

void lower_current_thread_to_idle() {
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}

} // namespace platform
