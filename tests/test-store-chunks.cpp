// Storing chunks, stored path forms, removal and reading back.

#include "test_support.h"

namespace {

using namespace test_support;

class Chunks : public ::testing::Test {
protected:
    int32_t add(const std::string &path, int32_t id, const std::string &text) {
        return store->add(unit(id), Chunk{id, 1, path, text});
    }
    StoreFiles files;
    std::unique_ptr<VectorStore> store = files.open();
    const std::string &db = files.db;
};

TEST_F(Chunks, RowsAreKeyedByStoredPathAndReadBackInOrder) {
    ASSERT_EQ(add("/docs/a.txt/", 2, "two"), 0);
    ASSERT_EQ(add("/docs/a.txt", 0, "zero"), 1);
    ASSERT_EQ(add("/docs/a.TXT", 0, "other"), 2);
    ASSERT_EQ(add("/docs/a.txt", 1, "one"), 3);
#ifdef _WIN32
    EXPECT_EQ(normalize_path("C:/docs/a.txt"), "C:\\docs\\a.txt");
    EXPECT_EQ(normalize_path("/docs/"), "\\docs");
    EXPECT_EQ(normalize_path("C:\\"), "C:\\");  // the root, not the drive's current directory
#else
    ASSERT_EQ(add("\\docs\\a.txt", 0, "elsewhere"), 4);  // a backslash is a name byte
    EXPECT_EQ(normalize_path("a\\b.txt\\"), "a\\b.txt\\");  // a trailing one too
    EXPECT_EQ(normalize_path("/"), "/");
#endif
    std::string ids;
    for (const Chunk &c : store->get_file_chunks("/docs/a.txt")) ids += std::to_string(c.chunk_id);
    EXPECT_EQ(ids, "012");
    EXPECT_EQ(store->get_document_text("/docs/a.txt/"), "zero\none\ntwo");
    // Empty chunks keep their place between others; NULL text is left out.
    add("a", 0, "A"), add("a", 1, ""), add("a", 2, "B");
    sql(db, "INSERT INTO chunks VALUES (90, 0, 1, 'c', 'C'), (91, 1, 1, 'c', NULL), (92, 2, 1, 'c', 'D')");
    EXPECT_EQ(store->get_document_text("a"), "A\n\nB");
    EXPECT_EQ(store->get_document_text("c"), "C\nD");
}

TEST_F(Chunks, RemoveDocument) {
    add("/d/a.txt", 0, "alpha words"), add("/d/a.txt", 1, "alpha more"), add("/d/b.txt", 2, "alpha beta");
    store->remove_document("/d/none.txt");
    EXPECT_FALSE(fs::exists(files.index));  // nothing deleted, nothing saved
    store->remove_document("/d/a.txt/");
    EXPECT_TRUE(fs::exists(files.index));  // deleted points force a save
    CapturedOutput quiet;  // neither the rows' text nor their points are found
    const auto hits = store->search(unit(0), 10, "alpha");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].label, 2);
    EXPECT_EQ(add("/d/a.txt", 0, "again"), 3);
}

TEST_F(Chunks, FailedWritesRollBackWhole) {
    sql(db, "INSERT INTO chunks VALUES (0, 0, 1, 'other', 'x')");
    CapturedOutput quiet;
    EXPECT_EQ(add("a", 0, "y"), -1);
    EXPECT_EQ(add("a", 1, "y"), 1);  // the failed row's label stays spent
    store->mark_file_indexed("a", 1);
    sql(db, "DROP TABLE chunks_fts; INSERT INTO indexed_files VALUES (NULL, 3)");
    EXPECT_EQ(add("b", 2, "z"), -1);
    EXPECT_FALSE(store->remove_document("a"));
    EXPECT_EQ(store->add(std::vector<float>(7, 0.5f), Chunk{0, 1, "a", "x"}), -1);
    EXPECT_EQ(store->peek_next_label(), 3);  // no label spent
    // No row of b, and a's row and point stay.
    EXPECT_EQ(sql(db, "SELECT COUNT(*) FROM chunks WHERE file_path = 'b'"), 0);
    EXPECT_EQ(store->get_file_chunks("a").size(), 1u);
    EXPECT_EQ(store->search(unit(1), 3, "").size(), 1u);
    store->mark_file_indexed("w", 9);  // visible only if no transaction was left open
    EXPECT_EQ(sql(db, "SELECT last_modified FROM indexed_files WHERE path = 'w'"), 9);
    EXPECT_EQ(store->get_indexed_files(), (std::vector<std::string>{"a", "w"}));  // the NULL path left out
}

// Enough points for upper graph levels, whose full link lists are where
// hnswlib's search looks one link past the end; the sanitizer build checks
// that this stays inside the allocation, when built and when loaded.
TEST(StoreGraph, UpperLevelsStayInsideTheirLists) {
    StoreFiles files;
    std::mt19937 rng(1);
    std::vector<float> last;
    {
        auto store = files.open();
        for (int32_t i = 0; i < 1500; ++i) ASSERT_EQ(store->add(last = random_unit(rng, 8), Chunk{i, 1, "a", "x"}), i);
        store->save_index(true);
    }
    auto store = files.open();
    for (int32_t i = 0; i < 100; ++i) ASSERT_GE(store->add(random_unit(rng, 8), Chunk{i, 1, "b", "y"}), 0);
    EXPECT_EQ(store->search(last, 1, "").at(0).label, 1499);
}

} // namespace
