#define _GNU_SOURCE
#include "stat_gate.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t gate_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gate_changed = PTHREAD_COND_INITIALIZER;
static char gate_path[4096];
static int armed;
static pthread_t owner;
static unsigned long arrived;  // calls held so far, each with its ticket
static unsigned long released; // tickets let go

static struct timespec after_ms(long ms) {
    struct timespec at;
    clock_gettime(CLOCK_REALTIME, &at);
    at.tv_sec += ms / 1000;
    at.tv_nsec += (ms % 1000) * 1000000L;
    if (at.tv_nsec >= 1000000000L) at.tv_sec += 1, at.tv_nsec -= 1000000000L;
    return at;
}

void stat_gate_arm(const char *path) {
    pthread_mutex_lock(&gate_mutex);
    strncpy(gate_path, path, sizeof gate_path - 1);
    owner = pthread_self();
    armed = 1;
    pthread_mutex_unlock(&gate_mutex);
}

void stat_gate_disarm(void) {
    pthread_mutex_lock(&gate_mutex);
    armed = 0;
    released = arrived;
    pthread_cond_broadcast(&gate_changed);
    pthread_mutex_unlock(&gate_mutex);
}

int stat_gate_wait_held(int timeout_ms) {
    const struct timespec deadline = after_ms(timeout_ms);
    pthread_mutex_lock(&gate_mutex);
    int rc = 0;
    while (arrived == released && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&gate_changed, &gate_mutex, &deadline);
    const int held = arrived != released;
    pthread_mutex_unlock(&gate_mutex);
    return held;
}

void stat_gate_release(void) {
    pthread_mutex_lock(&gate_mutex);
    if (released != arrived) ++released;
    pthread_cond_broadcast(&gate_changed);
    pthread_mutex_unlock(&gate_mutex);
}

static void pass_gate(int dirfd, const char *path) {
    if (!path || (dirfd != AT_FDCWD && path[0] != '/')) return;
    const int saved = errno;
    pthread_mutex_lock(&gate_mutex);
    if (armed && !pthread_equal(pthread_self(), owner) && strcmp(path, gate_path) == 0) {
        const unsigned long ticket = arrived++;
        pthread_cond_broadcast(&gate_changed);
        const struct timespec deadline = after_ms(60000);
        int rc = 0;
        while (released <= ticket && rc != ETIMEDOUT) rc = pthread_cond_timedwait(&gate_changed, &gate_mutex, &deadline);
    }
    pthread_mutex_unlock(&gate_mutex);
    errno = saved;
}

// The calls themselves go straight to the kernel: no other library's own
// version of them is needed, sanitizers' included.
int fstatat(int dirfd, const char *path, struct stat *buf, int flags) {
    pass_gate(dirfd, path);
    return (int)syscall(SYS_newfstatat, dirfd, path, buf, flags);
}
int stat(const char *path, struct stat *buf) { return fstatat(AT_FDCWD, path, buf, 0); }
int lstat(const char *path, struct stat *buf) { return fstatat(AT_FDCWD, path, buf, AT_SYMLINK_NOFOLLOW); }
int stat64(const char *path, struct stat64 *buf) { return fstatat(AT_FDCWD, path, (struct stat *)buf, 0); }
int lstat64(const char *path, struct stat64 *buf) {
    return fstatat(AT_FDCWD, path, (struct stat *)buf, AT_SYMLINK_NOFOLLOW);
}
int fstatat64(int dirfd, const char *path, struct stat64 *buf, int flags) {
    return fstatat(dirfd, path, (struct stat *)buf, flags);
}
int statx(int dirfd, const char *path, int flags, unsigned int mask, struct statx *buf) {
    pass_gate(dirfd, path);
    return (int)syscall(SYS_statx, dirfd, path, flags, mask, buf);
}
