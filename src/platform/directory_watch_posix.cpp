#include "platform/directory_watch.h"

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

// Files: created, written, new times (IN_ATTRIB), moved in. Directories: also
// moved out, so that their watches can follow them. The root may be a link.
constexpr uint32_t kWatchMask = IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR;
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

} // namespace

struct DirectoryWatch::State {
    int wake_fd = -1;
    int notify_fd = -1;
    std::string root;
    std::unordered_map<int, std::string> dirs;  // watch descriptor -> path below root ("" for root)
    alignas(inotify_event) char buffer[kBufferSize];

    std::string full(const std::string &relative) const {
        return relative.empty() ? root : root + '/' + relative;
    }

    // Watches the directory relative and everything below it. With files set,
    // the files in it are listed too: they came into the tree with it (moved
    // in), or were written before its watch existed (just created). Returns 0,
    // or errno when relative itself cannot be watched.
    int watch_tree(const std::string &relative, std::vector<std::string> *files) {
        const std::string path = full(relative);
        const uint32_t mask = relative.empty() ? kWatchMask : kWatchMask | IN_DONT_FOLLOW;
        const int wd = inotify_add_watch(notify_fd, path.c_str(), mask);
        if (wd < 0) return errno;  // a subdirectory gone again or unreadable is skipped
        dirs[wd] = relative;
        DIR *dir = ::opendir(path.c_str());
        if (!dir) return 0;
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string child = join(relative, name);
            if (is_directory(full(child), entry)) watch_tree(child, files);
            else if (files) files->push_back(child);
        }
        ::closedir(dir);
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

    void handle(const inotify_event &event, std::vector<std::string> &names) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Directories made meanwhile may have been missed; their files are lost.
            watch_tree("", nullptr);
            return;
        }
        if (event.mask & IN_IGNORED) {
            dirs.erase(event.wd);
            return;
        }
        const auto dir = dirs.find(event.wd);
        if (dir == dirs.end() || event.len == 0) return;
        const std::string relative = join(dir->second, event.name);
        if (event.mask & IN_ISDIR) {
            if (event.mask & IN_MOVED_FROM) forget_tree(relative);
            else if (event.mask & (IN_CREATE | IN_MOVED_TO)) watch_tree(relative, &names);
            return;
        }
        if (event.mask & (IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_MOVED_TO)) names.push_back(relative);
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
    if (const int error = state->watch_tree("", nullptr)) {
        close_fd(state->notify_fd);
        return static_cast<unsigned long>(error);
    }
    return 0;
}

DirectoryWatch::Batch DirectoryWatch::next_batch(int timeout_ms) {
    Batch batch;
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
        state->handle(*event, batch.names);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return batch;
}

void DirectoryWatch::wake() {
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
