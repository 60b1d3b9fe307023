#include "platform/paths.h"

namespace platform {

char path_separator() { return '\\'; }

// Rows are keyed by this form so that both separators name one document.
std::string normalize_path(const std::string &path) {
    std::string out = path;
    for (char &c : out)
        if (c == '/') c = '\\';
    // "D:\" keeps its separator: without it the key would mean the drive's
    // current directory.
    if (out.size() > 3 && out.back() == '\\') out.pop_back();
    return out;
}

std::string_view without_stream_suffix(std::string_view name) { return name.substr(0, name.find(':')); }

} // namespace platform
