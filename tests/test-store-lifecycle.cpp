// Opening, recreating and saving the store's files, and labels across restarts.

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "store/vector_store.h"
#include "test_support.h"

using test_support::CapturedOutput;
namespace fs = std::filesystem;
using test_support::sql;
using test_support::unit;

namespace {


Chunk chunk(const std::string &path, int32_t id) { return Chunk{id, 1, path, "text " + path}; }


struct Files {
    test_support::TempDir dir;
    std::string index = dir.str("index.bin"), db = dir.str() + "/metadata.db";

    std::unique_ptr<VectorStore> store(size_t capacity = 100000) {
        return std::make_unique<VectorStore>(index, db, 8, capacity, 16, 200, 200);
    }
    std::unique_ptr<VectorStore> open(size_t capacity = 100000) {
        auto s = store(capacity);
        CapturedOutput quiet;
        EXPECT_TRUE(s->init());
        return s;
    }
    size_t saved_points() { return open()->element_count(); }
};

} // namespace

TEST(StoreIndexFile, BadFilesAreDeletedAndRecreatedWithRowsKept) {
    Files f;
    {
        auto s = f.open();
        for (int i = 0; i < 3; ++i) ASSERT_EQ(s->add(unit(i), chunk("a.txt", i)), i);
        EXPECT_FALSE(fs::exists(f.index)); // first written by a save
        s->save_index(true);
    }
    const std::string whole = test_support::read_file(f.index);
    const std::string corrupt = "[VectorStore] Failed to load index, recreating: Index seems to "
                                "be corrupted or unsupported\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "[VectorStore] Index file is 0 bytes, creating new index.\n"},
        {whole.substr(0, whole.size() / 2), corrupt},
        {whole.substr(0, 20), corrupt},
        {whole + "tail", corrupt},
        // a header whose capacity is below its element count (above ours)
        {whole.substr(0, 8) + std::string("\x01\0\0\0\0\0\0\0", 8) +
             std::string("\xff\xff\x0f\0\0\0\0\0", 8) + whole.substr(24),
         corrupt},
    };
    for (const auto &[content, line] : cases) {
        test_support::write_file(f.index, content);
        auto s = f.store();
        CapturedOutput out;
        ASSERT_TRUE(s->init());
        EXPECT_EQ(out.err(), line);
        EXPECT_FALSE(fs::exists(f.index));
        EXPECT_EQ(s->element_count(), 0u);
        EXPECT_EQ(s->peek_next_label(), 3);
        EXPECT_EQ(s->get_file_chunks("a.txt").size(), 3u);
    }
}

TEST(StoreIndexFile, AnIndexOfAnotherWidthIsRecreated) {
    Files f;
    {
        auto s = f.open();
        ASSERT_EQ(s->add(unit(0), chunk("a.txt", 0)), 0);
        s->save_index(true);
    }
    VectorStore wider(f.index, f.db, 16, 100000, 16, 200, 200);
    CapturedOutput out;
    ASSERT_TRUE(wider.init());
    EXPECT_NE(out.err().find("[VectorStore] Failed to load index, recreating: "), std::string::npos);
    EXPECT_EQ(wider.element_count(), 0u);
    EXPECT_EQ(wider.peek_next_label(), 1);
}

TEST(StoreIndexFile, CapacityOnLoadAndGrowth) {
    Files f;
    {
        auto s = f.open(2);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(s->add(unit(i), chunk("a.txt", i)), i);
        EXPECT_EQ(s->capacity(), 4u);
        s->save_index(true);
    }
    EXPECT_EQ(f.open(2)->capacity(), 4u);
    EXPECT_EQ(f.open(100)->capacity(), 100u);

    Files z;
    z.open(0)->save_index(true);
    auto s = z.store(0);
    CapturedOutput out;
    ASSERT_TRUE(s->init());
    EXPECT_EQ(out.err(), "[VectorStore] Loaded index has max_elements=0. Recreating.\n"
                         "[VectorStore] Failed to load index, recreating: Corrupted index "
                         "(max_elements=0)\n");
    // Doubling nothing would leave the index full for good.
    EXPECT_EQ(s->add(unit(0), chunk("a.txt", 0)), 0);
    EXPECT_EQ(s->capacity(), 1u);
}

TEST(StoreLabels, NextLabelAfterRestart) {
    Files f;
    EXPECT_EQ(f.open()->peek_next_label(), 0);
    sql(f.db, "INSERT INTO chunks VALUES (41, 0, 1, 'a', 'x'), (7, 1, 1, 'a', 'y')");
    EXPECT_EQ(f.open()->peek_next_label(), 42);

    // Labels 42..44 stay in the index file as deleted points above the largest row.
    {
        auto s = f.open();
        for (int i = 0; i < 3; ++i) ASSERT_EQ(s->add(unit(i), chunk("gone", i)), 42 + i);
        s->remove_document("gone");
    }
    auto s = f.open();
    ASSERT_EQ(s->peek_next_label(), 42);
    EXPECT_EQ(s->add(unit(5), chunk("new", 0)), 45);
    EXPECT_EQ(s->peek_next_label(), 46);
}

TEST(StoreLabels, LabelsEndBeforeInt32Max) {
    Files f;
    f.open();
    sql(f.db, "INSERT INTO chunks VALUES (2147483645, 0, 1, 'a', 'x')");
    auto s = f.open();
    EXPECT_EQ(s->add(unit(0), chunk("b", 0)), INT32_MAX - 1);
    CapturedOutput out;
    EXPECT_EQ(s->add(unit(1), chunk("b", 1)), -1);
    EXPECT_EQ(out.err(), "[VectorStore] add() exception: no labels left\n");
    sql(f.db, "UPDATE chunks SET label = 2147483647 WHERE label = 2147483645");
    EXPECT_EQ(f.open()->peek_next_label(), INT32_MAX);
}

TEST(StoreInit, FailuresLeaveEveryOperationInert) {
    Files f;
    fs::create_directory(f.dir.str("dir"));
    test_support::write_file(f.dir.str("junk.db"), std::string(4096, 'x'));
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {f.index, f.dir.str("missing") + "/metadata.db",
         "[VectorStore] SQLite open failed: unable to open database file\n"},
        {f.index, f.dir.str("junk.db"), "[VectorStore] Schema creation failed: file is not a database\n"},
        {f.dir.str("dir"), f.db, "[VectorStore] init() failed: "},
    };
    for (const auto &[index, db, line] : cases) {
        auto s = std::make_unique<VectorStore>(index, db, 8, 100, 16, 200, 200);
        CapturedOutput out;
        EXPECT_FALSE(s->init());
        EXPECT_EQ(s->add(unit(0), chunk("a", 0)), -1);
        s->mark_file_indexed("a", 1);
        EXPECT_FALSE(s->is_file_indexed("a", 1));
        s->remove_document("a");
        s->save_index(true);
        EXPECT_TRUE(s->search(unit(0), 3, "text").empty());
        EXPECT_TRUE(s->get_file_chunks("a").empty() && s->get_indexed_files().empty());
        EXPECT_EQ(out.err().substr(0, line.size()), line);
        EXPECT_EQ(std::count(out.err().begin(), out.err().end(), '\n'), 1) << out.err();
    }
    EXPECT_FALSE(fs::exists(f.index));
}

// One test, since the throttle interval starts at construction.
TEST(StoreSave, ThrottledForcedAndFailedSaves) {
    Files f;
    auto s = f.open();
    EXPECT_FALSE(s->has_unsaved_changes());
    s->add(unit(0), chunk("a", 0));
    EXPECT_TRUE(s->has_unsaved_changes());
    s->save_index(false);
    EXPECT_FALSE(fs::exists(f.index));

    std::this_thread::sleep_for(std::chrono::milliseconds(5100));
    fs::create_directory(f.index + ".tmp");
    {
        CapturedOutput out;
        s->save_index(false);
        EXPECT_EQ(out.err().rfind("[VectorStore] Failed to save index: ", 0), 0u) << out.err();
        EXPECT_EQ(std::count(out.err().begin(), out.err().end(), '\n'), 1);
    }
    EXPECT_FALSE(fs::exists(f.index));
    EXPECT_TRUE(s->has_unsaved_changes());
    fs::remove(f.index + ".tmp");
    s->save_index(false); // the failure did not restart the interval
    EXPECT_EQ(f.saved_points(), 1u);
    EXPECT_FALSE(s->has_unsaved_changes());

    s->add(unit(1), chunk("a", 1));
    s->save_index(false);
    EXPECT_EQ(f.saved_points(), 1u);
    s->save_index(true);
    EXPECT_EQ(f.saved_points(), 2u);

    const std::string before = test_support::read_file(f.index);
    s->add(unit(2), chunk("a", 2));
    fs::create_directory(f.index + ".tmp");
    {
        CapturedOutput quiet;
        s->save_index(true);
    }
    EXPECT_EQ(test_support::read_file(f.index), before);
    EXPECT_EQ(f.saved_points(), 2u);
}
