#include "platform/filesystem.h"

#include <system_error>

// The services that std::filesystem gives alike on every platform; each names
// its failed operation as the callers log it.

namespace fs = std::filesystem;

namespace platform {

uintmax_t file_size(const fs::path &path) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) throw fs::filesystem_error("file_size", path, ec);
    return size;
}

bool remove_file(const fs::path &path) {
    std::error_code ec;
    const bool removed = fs::remove(path, ec);
    if (ec) throw fs::filesystem_error("remove", path, ec);
    return removed;
}

void create_directories(const fs::path &dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw fs::filesystem_error("create_directories", dir, ec);
}

fs::path absolute_path(const fs::path &path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) throw fs::filesystem_error("absolute", path, ec);
    return absolute;
}

std::optional<int64_t> last_write_ticks_if_exists(const fs::path &path) {
    if (!path_exists(path)) return std::nullopt;
    return last_write_ticks(path);
}

} // namespace platform
