// Indexing progress and status, and watching, through the C API.

#include <atomic>

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
    EXPECT_EQ(rag_get_indexing_status(h.get(), nullptr, 8), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(status(), "");
    EXPECT_EQ(progress(), std::make_pair(0, 0));

    const std::string a = dir.str("a.txt"), b = dir.str("b.txt"), missing = dir.str("missing.txt");
    for (const std::string &p : {a, b, a, missing}) h->engine->enqueue_changed_file(p);
    EXPECT_EQ(status(), "Preparing... (0/4)");

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
    std::string text;
    for (int i = 0; i < 60; ++i) text += "palavra" + std::to_string(i) + " ";
    h->engine->enqueue_changed_file(dir.str("outro.txt"));
    CapturedOutput quiet;
    // Indexing one short file is quick: try again until a poll lands in it.
    bool seen = false;
    for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
        const std::string name = "doc" + std::to_string(attempt) + ".txt";
        write_file(dir.path() / name, text);
        std::atomic<bool> finished{false};
        std::thread host([&] {
            EXPECT_EQ(rag_add_document(h.get(), dir.str(name).c_str()), RAG_OK);
            finished = true;
        });
        while (!finished) {
            const std::string now = status();
            if (now == "Indexing: " + name + " (0/1)") seen = true;
            else EXPECT_EQ(now, "Preparing... (0/1)");
        }
        host.join();
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(status(), "Preparing... (0/1)");
}

size_t occurrences(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST_F(ApiIndexing, WatchingQueuesChangedFilesWhileItRuns) {
    rag_start_watching(nullptr);
    rag_stop_watching(nullptr);
    TempDir other;
    HandlePtr uninitialised = open_handle(other, "", false);
    const std::string a = dir.str("a.txt");
    CapturedOutput out;
    rag_start_watching(uninitialised.get());  // nothing to start before init
    rag_start_watching(h.get());
    rag_start_watching(h.get());
    ASSERT_TRUE(eventually([&] { return write_file(a, "contrato"), status() != ""; }));
    rag_stop_watching(h.get());
    EXPECT_EQ(rag_add_document(h.get(), a.c_str()), RAG_OK);
    EXPECT_EQ(status(), "");
    write_file(dir.path() / "b.txt", "x");  // not watching now
    rag_start_watching(h.get());
    h.reset();  // destroyed while watching
    EXPECT_EQ(out.err(), "");
    EXPECT_EQ(occurrences(out.out(), "[Indexer] Watcher thread started (IDLE priority)\n"), 2u);
    EXPECT_HAS(out.out(), "[Indexer] File changed: " + a + "\n");
    EXPECT_EQ(out.out().find("b.txt"), std::string::npos);
}

} // namespace
