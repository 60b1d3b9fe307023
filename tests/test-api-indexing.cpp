// Indexing progress and status, and watching, through the C API.

#include <atomic>
#include <cstring>
#include <set>

#include "api/rag_handle.h"
#include "rag.h"
#include "test_support.h"

namespace {

using namespace test_support;

class ApiIndexing : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, "none.gguf");

    std::string status() {
        char buf[256];
        EXPECT_EQ(rag_get_indexing_status(h.get(), buf, sizeof buf), RAG_OK);
        return buf;
    }
    std::pair<int, int> progress() {
        int done = -1, total = -1;
        EXPECT_EQ(rag_get_indexing_progress(h.get(), &done, &total), RAG_OK);
        return {done, total};
    }
};

TEST_F(ApiIndexing, ReportedFilesLeaveTheQueueWhenTheHostDealsWithThem) {
    int n = 7;
    EXPECT_EQ(rag_get_indexing_progress(h.get(), nullptr, &n), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(n, 7);
    char one[1] = {'x'};
    EXPECT_EQ(rag_get_indexing_status(h.get(), one, 0), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_get_indexing_status(h.get(), one, 1), RAG_OK);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(progress(), std::make_pair(0, 0));

    const std::string a = dir.str("a.txt"), b = dir.str("b.txt"), missing = dir.str("missing.txt");
    for (const std::string &p : {a, b, a, missing}) h->engine->enqueue_changed_file(p);
    EXPECT_EQ(status(), "Preparing... (0/4)");
    char shorter[18];
    std::memset(shorter, 'x', sizeof shorter);
    EXPECT_EQ(rag_get_indexing_status(h.get(), shorter, sizeof shorter), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shorter[0], 'x');

    CapturedOutput quiet;
    ASSERT_EQ(rag_add_text_document(h.get(), a.c_str(), "texto do documento"), RAG_OK);
    EXPECT_EQ(progress(), std::make_pair(2, 4));  // both reports of a
    EXPECT_EQ(rag_add_document(h.get(), missing.c_str()), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(status(), "Preparing... (3/4)");
    ASSERT_EQ(rag_remove_document(h.get(), (b + "/").c_str()), RAG_OK);  // same stored form
    EXPECT_EQ(status(), "");
    EXPECT_EQ(progress(), std::make_pair(4, 4));
}

TEST_F(ApiIndexing, StatusNamesTheFileAnotherThreadIsIndexing) {
    const std::string big = dir.str("relatorio.txt");
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "palavra" + std::to_string(i % 97) + " ";
    write_file(big, text);
    h->engine->enqueue_changed_file(big);

    std::atomic<bool> finished{false};
    int rc = 0;
    CapturedOutput quiet;
    std::thread host([&] {
        rc = rag_add_document(h.get(), big.c_str());
        finished = true;
    });
    std::set<std::string> seen;
    while (!finished) seen.insert(status());
    host.join();
    EXPECT_EQ(rc, RAG_OK);
    seen.erase("Preparing... (0/1)");  // before the thread began
    seen.erase("");                    // after it settled
    EXPECT_EQ(seen, std::set<std::string>{"Indexing: relatorio.txt (0/1)"});
    EXPECT_EQ(status(), "");
    EXPECT_EQ(progress(), std::make_pair(1, 1));
}

TEST(ApiWatching, ReportsReachTheQueueOnlyWhileWatching) {
    TempDir dir;
    const std::string docs = dir.str("docs"), a = docs + "/a.txt";
    fs::create_directories(docs);
    HandlePtr h(rag_create("", embed_model().c_str(), dir.str("index.bin").c_str(), docs.c_str(),
                           dir.str("data").c_str(), 0, 2));
    CapturedOutput out;
    rag_start_watching(nullptr);
    rag_stop_watching(nullptr);
    rag_start_watching(h.get());  // before init: nothing to start
    ASSERT_EQ(rag_init(h.get()), RAG_OK);
    int done = 0, total = 0;
    const auto reported = [&] {
        rag_get_indexing_progress(h.get(), &done, &total);
        return total > 0;
    };
    rag_start_watching(h.get());
    ASSERT_TRUE(eventually([&] { return write_file(a, "contrato"), reported(); }));
    rag_stop_watching(h.get());
    EXPECT_EQ(rag_add_document(h.get(), a.c_str()), RAG_OK);
    rag_get_indexing_progress(h.get(), &done, &total);
    EXPECT_EQ(done, total);
    write_file(docs + "/b.txt", "x");  // not watching now
    rag_start_watching(h.get());
    h.reset();  // destroyed while watching
    EXPECT_EQ(out.err(), "");
    const std::string started = "[Indexer] Watcher thread started (IDLE priority)\n";
    const std::string &log = out.out();
    EXPECT_GT(log.find(started), log.find("[Engine] Initialization complete."));
    EXPECT_HAS(log, "[Indexer] File changed: " + a + "\n");
    EXPECT_EQ(log.find("b.txt"), std::string::npos);
}

} // namespace
