#pragma once

// Path rules that differ between platforms. Linux: paths_posix.cpp; Windows:
// paths_win.cpp.

#include <string>
#include <string_view>

namespace platform {

// The separator this platform puts between path elements.
char path_separator();

// The key under which the store files a document. Windows: every '/' becomes
// '\\', then one trailing '\\' is dropped when the path is longer than 3 bytes.
// Linux: the bytes stay as they are, except that one trailing '/' is dropped
// when the path is longer than 1 byte.
std::string normalize_path(const std::string &path);

// The part of a file name that names the file. Windows: up to the first ':',
// which starts an alternate data stream. Linux: all of it, as a colon is an
// ordinary file-name byte.
std::string_view without_stream_suffix(std::string_view name);

} // namespace platform
