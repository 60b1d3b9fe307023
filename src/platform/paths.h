#pragma once

// Path rules that differ between platforms. Linux: paths_posix.cpp; Windows:
// paths_win.cpp.

#include <string>

namespace platform {

// The separator this platform puts between path elements.
char path_separator();

// The key under which the store files a document. Windows: every '/' becomes
// '\\', then one trailing '\\' is dropped when the path is longer than 3 bytes.
// Linux: the bytes stay as they are, except that one trailing '/' is dropped
// when the path is longer than 1 byte.
std::string normalize_path(const std::string &path);

} // namespace platform
