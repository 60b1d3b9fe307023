#include "platform/filesystem.h"

#include "common/utf8.h"

#include <cerrno>
#include <system_error>
#include <windows.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

// The Win32 error text, without its trailing line break.
std::string win32_message(DWORD code) {
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = n ? std::string(text, n) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

std::error_code last_error_code() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

[[noreturn]] void throw_illegal_bytes(const char *what) {
    throw std::system_error(std::make_error_code(std::errc::illegal_byte_sequence), what);
}

// Narrow text in code page cp to UTF-16; throws on bytes the code page lacks.
std::wstring to_wide(const std::string &text, UINT cp, const char *what) {
    if (text.empty()) return std::wstring();
    const int len = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), len, nullptr, 0);
    if (n <= 0) throw_illegal_bytes(what);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), len, wide.data(), n);
    return wide;
}

// UTF-16 to code page cp; throws where a character has no exact form there
// (in UTF-8, a lone surrogate), as the standard path conversion does.
std::string from_wide(const std::wstring &wide, UINT cp) {
    if (wide.empty()) return std::string();
    const int len = static_cast<int>(wide.size());
    // UTF-8 refuses the lossy-default arguments.
    const bool utf8 = cp == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(cp, flags, wide.data(), len, nullptr, 0, nullptr,
                                      utf8 ? nullptr : &lossy);
    if (n <= 0 || lossy)
        throw_illegal_bytes(utf8 ? "file name is not valid UTF-16"
                                 : "file name not representable in the ANSI code page");
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, flags, wide.data(), len, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

bool attributes(const fs::path &path, WIN32_FILE_ATTRIBUTE_DATA &data) {
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

} // namespace

fs::path path_from_host(const std::string &text) {
    const UINT cp = is_well_formed_utf8(text) ? CP_UTF8 : CP_ACP;
    return fs::path(to_wide(text, cp, "path is neither UTF-8 nor valid in the ANSI code page"));
}

std::string path_to_utf8(const fs::path &path) { return from_wide(path.native(), CP_UTF8); }

std::string path_to_host(const fs::path &path, const std::string &given) {
    return from_wide(path.native(), is_well_formed_utf8(given) ? CP_UTF8 : GetACP());
}

// MinGW's std::filesystem reports every failed status query as not found;
// only these codes mean that here, as in the native C++ library.
bool path_exists(const fs::path &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (attributes(path, data)) {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
        // A link exists when its target does.
        const HANDLE target = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (target != INVALID_HANDLE_VALUE) {
            CloseHandle(target);
            return true;
        }
    }
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE: case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME:
        return false;
    default:
        throw fs::filesystem_error("exists", path, last_error_code());
    }
}

// FILETIME already counts 100-nanosecond ticks since 1601-01-01 UTC.
int64_t last_write_ticks(const fs::path &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes(path, data)) throw fs::filesystem_error("last_write_time", path, last_error_code());
    ULARGE_INTEGER ticks;
    ticks.LowPart = data.ftLastWriteTime.dwLowDateTime;
    ticks.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<int64_t>(ticks.QuadPart);
}

// Windows has no read-permission probe short of opening: a file that cannot
// be opened is found by the reader's open and retried like a locked one.
FileAccess probe_readable_file(const fs::path &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!attributes(path, data)) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileAccess::missing
                                                                             : FileAccess::never_readable;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return FileAccess::never_readable;
    return FileAccess::readable;
}

bool is_transient_read_error(int error_number) {
    switch (error_number) {
    case 0:
    case EACCES:  // the C runtime's reading of a sharing or lock violation
    case EAGAIN:
    case EBUSY:
    case EINTR:
        return true;
    default:
        return false;
    }
}

bool sync_file(const fs::path &path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = FlushFileBuffers(file) != 0;
    return CloseHandle(file) != 0 && ok;
}

bool replace_file(const fs::path &from, const fs::path &to, std::string *error) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (error) *error = win32_message(GetLastError());
    return false;
}

} // namespace platform
