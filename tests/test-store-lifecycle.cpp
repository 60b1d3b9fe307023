// Opening, recreating and saving the store's files, and labels across restarts.

#include "test_support.h"

namespace {

using namespace test_support;

Chunk chunk(const std::string &path, int32_t id) { return Chunk{id, 1, path, "text " + path}; }

TEST(StoreIndexFile, ZeroCapacityIsRecreated) {
    StoreFiles z;
    z.open(0)->save_index(true);
    auto s = z.open(0, false);
    CapturedOutput out;
    ASSERT_TRUE(s->init());
    EXPECT_HAS(out.err(), "Failed to load index, recreating: Corrupted index (max_elements=0)\n");
    EXPECT_EQ(s->add(unit(0), chunk("a.txt", 0)), 0);  // and it still grows
}

TEST(StoreLabels, NextLabelAfterRestart) {
    StoreFiles f;
    auto s = f.open();
    sql(f.db, "INSERT INTO chunks VALUES (41, 0, 1, 'a', 'x'), (7, 1, 1, 'a', 'y')");
    s = f.open();
    // Labels 42..44 stay in the index file as deleted points above the largest row.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(s->add(unit(i), chunk("gone", i)), 42 + i);
    s->remove_document("gone");
    s = f.open();
    EXPECT_EQ(s->add(unit(5), chunk("new", 0)), 45);

    // Labels end before INT32_MAX, which is never handed out; a row holding it marks them spent.
    sql(f.db, "INSERT INTO chunks VALUES (2147483645, 0, 1, 'a', 'x')");
    s = f.open();
    EXPECT_EQ(s->add(unit(0), chunk("b", 0)), INT32_MAX - 1);
    {
        CapturedOutput quiet;
        EXPECT_EQ(s->add(unit(1), chunk("b", 1)), -1);
    }
    sql(f.db, "UPDATE chunks SET label = 2147483647 WHERE label = 2147483645");
    EXPECT_EQ(f.open()->peek_next_label(), INT32_MAX);
}

// One test, since the throttle interval starts at construction.
TEST(StoreSave, ThrottledForcedAndFailedSaves) {
    StoreFiles f;
    auto s = f.open();
    s->add(unit(0), chunk("a", 0));
    s->save_index(false);
    EXPECT_FALSE(fs::exists(f.index));

    std::this_thread::sleep_for(std::chrono::milliseconds(5100));
    fs::create_directory(f.index + ".tmp");
    {
        CapturedOutput out;
        s->save_index(false);
        EXPECT_EQ(out.err().rfind("[VectorStore] Failed to save index: ", 0), 0u) << out.err();
    }
    EXPECT_FALSE(fs::exists(f.index));
    fs::remove(f.index + ".tmp");
    s->save_index(false); // still unsaved, and the failure did not restart the interval
    EXPECT_EQ(f.open()->element_count(), 1u);

    s->add(unit(1), chunk("a", 1));
    s->save_index(false);
    EXPECT_EQ(f.open()->element_count(), 1u);
    s->save_index(true);
    EXPECT_EQ(f.open()->element_count(), 2u);

    const std::string before = read_file(f.index);
    s->add(unit(2), chunk("a", 2));
    fs::create_directory(f.index + ".tmp");
    {
        CapturedOutput quiet;
        s->save_index(true);
    }
    EXPECT_EQ(read_file(f.index), before);
}

} // namespace
