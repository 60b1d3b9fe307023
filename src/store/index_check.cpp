#include "store/index_check.h"

#include <hnswlib/hnswlib.h>

#include <fstream>
#include <stdexcept>

namespace {

[[noreturn]] void corrupt() { throw std::runtime_error("Index seems to be corrupted or unsupported"); }

template <typename T>
bool read_field(std::istream &in, T &value) {
    return static_cast<bool>(in.read(reinterpret_cast<char *>(&value), sizeof value));
}

// Links of one list: a count (the low 16 bits of its first word) and ids.
bool list_ok(const hnswlib::linklistsizeint *list, size_t max_links, size_t count, int level,
             const std::vector<int> &levels) {
    const size_t links = *reinterpret_cast<const unsigned short *>(list);
    if (links > max_links) return false;
    const hnswlib::tableint *ids = reinterpret_cast<const hnswlib::tableint *>(list + 1);
    for (size_t j = 0; j < links; ++j)
        if (ids[j] >= count || levels[ids[j]] < level) return false;
    return true;
}

} // namespace

void check_index_file(const std::filesystem::path &path, int32_t dim, size_t max_elements) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) throw std::runtime_error("Cannot open file");
    size_t offset_level0 = 0, capacity = 0, count = 0, bytes_per_element = 0, label_offset = 0,
           data_offset = 0, max_m = 0, max_m0 = 0, m = 0, ef_construction = 0;
    int max_level = 0;
    hnswlib::tableint entry_point = 0;
    double mult = 0;
    const bool read = read_field(in, offset_level0) && read_field(in, capacity) &&
                      read_field(in, count) && read_field(in, bytes_per_element) &&
                      read_field(in, label_offset) && read_field(in, data_offset) &&
                      read_field(in, max_level) && read_field(in, entry_point) &&
                      read_field(in, max_m) && read_field(in, max_m0) && read_field(in, m) &&
                      read_field(in, mult) && read_field(in, ef_construction);
    const size_t vector_bytes = static_cast<size_t>(dim) * sizeof(float);
    const size_t allocated = count <= max_elements ? max_elements : capacity;
    // M, the list sizes and the level factor as hnswlib derives them; M 1
    // would make the level factor infinite.
    const bool sane =
        read && offset_level0 == 0 && count <= allocated && m >= 2 && m <= 10000 &&
        max_m == m && max_m0 == 2 * m && mult > 0 && mult <= 1.5 &&
        data_offset == max_m0 * sizeof(hnswlib::tableint) + sizeof(hnswlib::linklistsizeint) &&
        label_offset == data_offset + vector_bytes &&
        bytes_per_element == label_offset + sizeof(hnswlib::labeltype) &&
        // an empty graph has level -1 and no entry point
        (count == 0 ? max_level == -1 : max_level >= 0 && entry_point < count) &&
        (allocated == 0 || bytes_per_element <= SIZE_MAX / allocated);
    if (!sane) corrupt();

    // The upper-level lists follow the level-0 block, each after its size.
    const size_t list_bytes = max_m * sizeof(hnswlib::tableint) + sizeof(hnswlib::linklistsizeint);
    in.seekg(static_cast<std::streamoff>(count * bytes_per_element), std::ios::cur);
    for (size_t i = 0; i < count; ++i) {
        unsigned int size = 0;
        if (!read_field(in, size) || size % list_bytes != 0 ||
            size / list_bytes > static_cast<size_t>(max_level))
            corrupt();
        if (size != 0 && !in.seekg(size, std::ios::cur)) corrupt();
    }
}

void check_index_graph(const hnswlib::HierarchicalNSW<float> &index) {
    const size_t count = index.cur_element_count;
    if (count == 0) return;
    const std::vector<int> &levels = index.element_levels_;
    if (levels[index.enterpoint_node_] != index.maxlevel_) corrupt();
    for (size_t i = 0; i < count; ++i) {
        const auto id = static_cast<hnswlib::tableint>(i);
        if (!list_ok(index.get_linklist0(id), index.maxM0_, count, 0, levels)) corrupt();
        for (int level = 1; level <= levels[i]; ++level)
            if (!list_ok(index.get_linklist(id, level), index.maxM_, count, level, levels)) corrupt();
    }
}
