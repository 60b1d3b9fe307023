#include "platform/paths.h"

namespace platform {

char path_separator() { return '/'; }

// A backslash is an ordinary file-name byte here: turning it into a separator
// would make two different files one document.
std::string normalize_path(const std::string &path) {
    std::string out = path;
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string_view without_stream_suffix(std::string_view name) { return name; }

} // namespace platform
