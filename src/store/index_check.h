#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace hnswlib {
template <typename dist_t> class HierarchicalNSW;
}

// hnswlib trusts every number in its index file: a damaged file makes it read
// or write past its buffers. These checks let the store refuse such a file the
// way hnswlib refuses other corrupt ones, by throwing std::runtime_error
// "Index seems to be corrupted or unsupported".

// Checks the file before hnswlib loads it: the header against the store's
// settings, and every upper-level link-list size (a whole number of lists, no
// higher than the graph's top level). One pass over the link-list sizes.
void check_index_file(const std::filesystem::path &path, int32_t dim, size_t max_elements);

// Checks a loaded graph: the entry point sits on the top level, and every list
// holds at most its level's maximum of links, each naming a stored element that
// reaches that level. Linear in the number of links.
void check_index_graph(const hnswlib::HierarchicalNSW<float> &index);
