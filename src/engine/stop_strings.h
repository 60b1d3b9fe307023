#pragma once

#include <string>

// Where a generated answer must be cut, given that its first previous_size
// bytes held no stop string: the first occurrence of the first stop string
// (in list order) that occurs, or std::string::npos.
size_t find_stop_cut(const std::string &answer, size_t previous_size);
