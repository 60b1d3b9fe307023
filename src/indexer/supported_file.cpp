#include "indexer/supported_file.h"

#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Where the elements of path begin: after "X:" or a "\\server" share prefix.
size_t after_root_name(std::string_view path) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() >= 2 && letter(path[0]) && path[1] == ':') return 2;
    if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        size_t end = 2;
        while (end < path.size() && !is_separator(path[end])) ++end;
        return end;
    }
    return 0;
}

std::string_view extension(std::string_view path) {
    std::string_view name = path.substr(after_root_name(path));
    for (size_t i = name.size(); i-- > 0;)
        if (is_separator(name[i])) {
            name.remove_prefix(i + 1);
            break;
        }
    name = platform::without_stream_suffix(name);
    if (name.empty() || name == "." || name == "..") return {};
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot);
}

} // namespace

bool is_supported_file(const std::string &path) {
    static const std::vector<std::string> supported_extensions = {
        ".txt", ".md", ".rst", ".csv", ".log", ".pdf", ".docx", ".html", ".htm"};
    std::string ext(extension(path));
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const std::string &supported : supported_extensions)
        if (ext == supported) return true;
    return false;
}
