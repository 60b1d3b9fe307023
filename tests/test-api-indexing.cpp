// Indexing progress and status, and watching, through the C API.

#include <atomic>

#include "test_support.h"

namespace {

using namespace test_support;

class ApiIndexing : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, "none.gguf");
};

TEST_F(ApiIndexing, ReportedFilesLeaveTheQueueWhenTheHostDealsWithThem) {
    const std::string a = dir.str("a.txt"), b = dir.str("b.txt"), missing = dir.str("missing.txt");
    // b as a watched directory given with a trailing separator reports it
    for (const std::string &p : {a, native(dir.str() + "//b.txt"), a, missing}) h->engine->enqueue_changed_file(p);
    EXPECT_EQ(status(h.get()), "Preparing... (0/4)");
    CapturedOutput quiet;
    ASSERT_EQ(rag_add_text_document(h.get(), a.c_str(), "texto do documento"), RAG_OK);
    EXPECT_EQ(status(h.get()), "Preparing... (2/4)");  // both reports of a
    EXPECT_EQ(rag_add_document(h.get(), missing.c_str()), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(status(h.get()), "Preparing... (3/4)");
    ASSERT_EQ(rag_remove_document(h.get(), (b + "/").c_str()), RAG_OK);  // same stored form
    EXPECT_EQ(status(h.get()), "");
    EXPECT_EQ(progress(h.get()), std::make_pair(4, 4));
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
        for (std::string now; !finished && !seen;) {
            if ((now = status(h.get())) == "Indexing: " + name + " (0/1)") {
                seen = true;
                h->engine->enqueue_changed_file(dir.str(name));  // edited while it is being read
            } else {
                EXPECT_EQ(now, "Preparing... (0/1)");
            }
        }
        host.join();
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(status(h.get()), "Preparing... (0/2)");  // the edit is still to be indexed
}

TEST_F(ApiIndexing, WatchingQueuesChangedFilesWhileItRuns) {
    TempDir other;
    HandlePtr idle = open_handle(other, "", false);
    const std::string a = dir.str("a.txt");
    CapturedOutput out;
    rag_start_watching(idle.get());  // nothing to start before init
    rag_start_watching(h.get());
    rag_start_watching(h.get());
    ASSERT_TRUE(eventually([&] { return write_file(a, "contrato"), status(h.get()) != ""; }));
    rag_stop_watching(h.get());
    EXPECT_EQ(rag_add_document(h.get(), a.c_str()), RAG_OK);
    EXPECT_EQ(status(h.get()), "");
    write_file(dir.path() / "b.txt", "x");  // not watching now
    rag_start_watching(h.get());
    h.reset();  // destroyed while watching
    EXPECT_EQ(out.err(), "");
    // One thread per start that had something to start.
    const std::string &log = out.out(), started = "[Indexer] Watcher thread started (IDLE priority)\n";
    size_t n = 0;
    for (size_t at = log.find(started); at != std::string::npos; at = log.find(started, at + 1)) ++n;
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(log.find("b.txt"), std::string::npos);
}

} // namespace
