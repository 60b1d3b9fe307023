// Damaged index files, opened through the C API: each is refused at init and
// replaced by a new index that restores the stored rows, and nothing afterwards crashes.

#include <cstring>

#include "test_support.h"

namespace {

using namespace test_support;

// hnswlib's file: a 96-byte header, then each element's level-0 block, then
// each element's upper-level lists, each after its 4-byte size.
constexpr size_t kMaxLevelAt = 48, kEntryAt = 52, kMAt = 72, kHeader = 96, kBlock = 32 * 4 + 4 + 384 * 4 + 8;

template <typename T> T get(const std::string &f, size_t at) {
    T v;
    std::memcpy(&v, f.data() + at, sizeof v);
    return v;
}
template <typename T> std::string with(std::string f, size_t at, T v) {
    return f.replace(at, sizeof v, reinterpret_cast<const char *>(&v), sizeof v);
}

TEST(ApiDamagedIndex, RefusedAtInitAndReplaced) {
    // An index of 300 random points as the engine stores them.
    TempDir dir;
    constexpr uint32_t count = 300;
    VectorStore store(dir.str("made.bin"), dir.str("made.db"), 384, 100000, 16, 200, 200);
    ASSERT_TRUE(store.init());
    std::mt19937 rng(5);
    for (int32_t i = 0; i < int32_t{count}; ++i) store.add(random_unit(rng, 384), Chunk{i, 1, "made", "x"});
    store.save_index(true);
    const std::string f = read_file(dir.str("made.bin"));
    // A level-0 element, and where the first element with upper levels keeps their size.
    uint32_t low = 0;
    size_t high_size_at = 0;
    for (size_t i = 0, at = kHeader + count * kBlock; i < count; at += 4 + get<uint32_t>(f, at), ++i) {
        if (get<uint32_t>(f, at) == 0) low = static_cast<uint32_t>(i);
        else if (!high_size_at) high_size_at = at;
    }
    ASSERT_TRUE(high_size_at);
    const size_t low_links = kHeader + low * kBlock, high_upper = high_size_at + 4;
    // a list one link longer, the link inserted after it so the file size still adds up
    std::string ragged = with(f, high_size_at, get<uint32_t>(f, high_size_at) + 4);
    ragged.insert(high_upper + get<uint32_t>(f, high_size_at), 4, '\0');

    const std::pair<const char *, std::string> files[] = {
        {"intact", f}, {"empty", ""}, {"cut in the header", f.substr(0, 20)}, {"bytes after the end", f + "tail"},
        {"capacity below its element count (above ours)", with(with(f, 8, uint64_t{1}), 16, uint64_t{0xFFFFF})},
        {"vectors of another width", with(with(f, 24, get<uint64_t>(f, 24) - 32), 32, get<uint64_t>(f, 32) - 32)},
        {"entry point outside the graph (searching it would crash)", with(f, kEntryAt, uint32_t{1000000})},
        {"M above the upper lists' room (adding would write past them)", with(f, kMAt, uint64_t{17})},
        {"entry point on level 0", with(f, kEntryAt, low)},
        {"raised top level", with(f, kMaxLevelAt, get<int>(f, kMaxLevelAt) + 1)},
        {"neighbour beyond the elements", with(with(f, low_links, uint16_t{1}), low_links + 4, count + 5)},
        {"more neighbours than allowed", with(f, low_links, uint16_t{33})},
        {"upper neighbour without that level", with(with(f, high_upper, uint16_t{1}), high_upper + 4, low)},
        {"upper list not whole", ragged},
    };
    for (const auto &[what, bytes] : files) {
        write_file(dir.str("index.bin"), bytes);
        HandlePtr h = open_handle(dir, "none.gguf", false);
        CapturedOutput out;
        ASSERT_EQ(rag_init(h.get()), RAG_OK) << what;
        // Refused: a new index holds only the restored point of the document added below.
        EXPECT_HAS(out.out(), bytes == f ? "ready. 300 vectors" : "ready. 1 vectors") << what;
        // Adding and searching walk the graph.
        rag_search_result r[3];
        EXPECT_EQ(rag_add_text_document(h.get(), dir.str("a.txt").c_str(), "texto novo"), RAG_OK);
        EXPECT_EQ(rag_search(h.get(), "texto", 3, r), 1) << what;
    }
}

} // namespace
