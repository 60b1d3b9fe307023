#pragma once

// The few file-system services whose behaviour differs between platforms:
// filesystem_posix.cpp and filesystem_win.cpp implement them over the native
// calls, filesystem.cpp those that std::filesystem gives alike.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// A path from a string the host passed. Linux: the bytes, unchanged (a name
// need not be UTF-8). Windows: UTF-8, or, only when the bytes are not
// well-formed UTF-8, the ANSI code page, so a host passing ANSI keeps working;
// throws std::system_error (illegal byte sequence) when neither reads them.
std::filesystem::path path_from_host(const std::string &text);

// The path as SQLite and llama.cpp open a narrow name, and as path_from_host
// reads it back: UTF-8 on Windows, the bytes themselves on Linux.
std::string path_to_utf8(const std::filesystem::path &path);

// path written as the host wrote given (see path_from_host): UTF-8, or on
// Windows the ANSI code page when given was not UTF-8. Throws
// std::system_error (illegal byte sequence) when a character has no form there.
std::string path_to_host(const std::filesystem::path &path, const std::string &given);

// Whether path names anything (following links). Throws
// std::filesystem::filesystem_error ("exists") on errors other than not-found.
bool path_exists(const std::filesystem::path &path);

// Size in bytes; removal (false when there was nothing to remove). Both throw
// std::filesystem::filesystem_error named "file_size" / "remove".
uintmax_t file_size(const std::filesystem::path &path);
bool remove_file(const std::filesystem::path &path);

// Last-write time as signed 100-nanosecond ticks since 1601-01-01 UTC.
// Throws std::filesystem::filesystem_error ("last_write_time").
int64_t last_write_ticks(const std::filesystem::path &path);
// The same for a path that exists; nullopt when it does not.
std::optional<int64_t> last_write_ticks_if_exists(const std::filesystem::path &path);

// What a reader can expect of an existing path without blocking on it.
enum class FileAccess {
    readable,       // a regular file the process may read
    never_readable, // a directory, FIFO, device, or no read permission
    missing,
};
FileAccess probe_readable_file(const std::filesystem::path &path);

// Creates dir and its missing parents; an existing directory is no failure.
// Throws std::filesystem::filesystem_error ("create_directories").
void create_directories(const std::filesystem::path &dir);

// path against the current directory as it is now. Throws
// std::filesystem::filesystem_error ("absolute").
std::filesystem::path absolute_path(const std::filesystem::path &path);

// Whether a failed open or read of a readable file may pass if retried: another
// process holding a lock or a share-deny, an interrupted call, a short read of a
// file being rewritten (error_number 0). Anything else will fail again.
bool is_transient_read_error(int error_number);

// Flushes a written file's data to stable storage. False on failure.
bool sync_file(const std::filesystem::path &path);

// Renames from over to, replacing it atomically, and makes the rename durable.
// False on failure (errno-style message in *error when given).
bool replace_file(const std::filesystem::path &from, const std::filesystem::path &to,
                  std::string *error);

} // namespace platform
