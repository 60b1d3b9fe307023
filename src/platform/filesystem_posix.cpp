#include "platform/filesystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

} // namespace

fs::path path_from_host(const std::string &text) { return fs::path(text); }

std::string path_to_utf8(const fs::path &path) { return path.string(); }

std::string path_to_host(const fs::path &path, const std::string &) { return path.string(); }

bool path_exists(const fs::path &path) {
    // libstdc++'s throwing form names the failed operation "status".
    std::error_code ec;
    const bool found = fs::exists(path, ec);
    if (ec) throw fs::filesystem_error("exists", path, ec);
    return found;
}

int64_t last_write_ticks(const fs::path &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        throw fs::filesystem_error("last_write_time", path,
                                   std::error_code(errno, std::generic_category()));
    return (static_cast<int64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
           st.st_mtim.tv_nsec / 100;
}

FileAccess probe_readable_file(const fs::path &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileAccess::missing : FileAccess::never_readable;
    if (!S_ISREG(st.st_mode)) return FileAccess::never_readable;
    if (::access(path.c_str(), R_OK) != 0) return FileAccess::never_readable;
    return FileAccess::readable;
}

bool is_transient_read_error(int error_number) {
    switch (error_number) {
    case 0:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EBUSY:
    case EINTR:
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

bool sync_file(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool replace_file(const fs::path &from, const fs::path &to, std::string *error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    // Persist the directory entry too; a failure here does not undo the rename.
    fs::path dir = to.parent_path();
    if (dir.empty()) dir = ".";
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

} // namespace platform
