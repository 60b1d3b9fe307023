#pragma once

#include <string>

// Whether the watcher reports a changed file at path: true when the extension
// of its last element (either separator counts), lower-cased in ASCII, is one
// of .txt .md .rst .csv .log .pdf .docx .html .htm. Read as Windows reads a
// name: a drive or share prefix is no element, a name ending in a dot has the
// extension ".", and a name whose only dot is its first byte has none. On
// Windows alone everything from a colon on (a stream suffix) is ignored.
bool is_supported_file(const std::string &path);
