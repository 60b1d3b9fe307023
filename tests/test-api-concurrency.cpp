// Several host threads on one handle, as the header's concurrency contract
// allows them.

#include <atomic>
#include <functional>

#include "test_support.h"

namespace {

using namespace test_support;

// Words enough for three chunks.
std::string long_text(const std::string &topic) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += topic + std::to_string(i % 50) + " ";
    return text;
}

// Runs every task on its own thread, released together.
void run_together(const std::vector<std::function<void()>> &tasks) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (const auto &task : tasks) {
        threads.emplace_back([&, task] {
            ++ready;
            while (ready.load() < static_cast<int>(tasks.size())) std::this_thread::yield();
            task();
        });
    }
    for (std::thread &t : threads) t.join();
}

// The chat model loads only when an answer is asked for.
class ApiConcurrency : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, model_path("chat-phi3"));
    CapturedOutput quiet;
};

TEST_F(ApiConcurrency, OneDocumentAddedByTwoThreadsIsStoredOnce) {
    const std::string db = dir.str("data/metadata.db");
    for (int round = 0; round < 6; ++round) {
        const std::string path = dir.str("doc" + std::to_string(round) + ".txt");
        write_file(path, long_text("contrato"));
        int codes[2] = {-1, -1};
        run_together({[&] { codes[0] = rag_add_document(h.get(), path.c_str()); },
                      [&] { codes[1] = rag_add_text_document(h.get(), path.c_str(), long_text("aluguel").c_str()); }});
        EXPECT_EQ(std::make_pair(codes[0], codes[1]), std::make_pair(RAG_OK, RAG_OK)) << round;
        EXPECT_EQ(sql(db, "SELECT count(*) FROM chunks WHERE file_path = '" + normalize_path(path) + "'"), 3) << round;
    }
}

// Indexing, searching, listing, reading, answering and watching on several
// threads at once. The answering calls share the chat model: overlapping, they
// must wait their turn, not crash.
TEST_F(ApiConcurrency, IndexingSearchingReadingAnsweringAndWatchingOverlap) {
    const std::string text = long_text("prazo");
    std::vector<std::function<void()>> tasks;
    for (const char *t : {"t0-", "t1-", "t2-"})
        tasks.push_back([&, t] {
            for (const std::string i : {"0", "1", "2", "3"})
                EXPECT_EQ(rag_add_text_document(h.get(), dir.str(t + i + ".txt").c_str(), text.c_str()), RAG_OK);
        });
    tasks.push_back([&] {
        rag_search_result results[3];
        std::vector<char> buf(1 << 16);
        for (int i = 0; i < 20; ++i) {
            EXPECT_GE(rag_search(h.get(), "prazo7", 3, results), 0);
            EXPECT_EQ(rag_get_indexed_files(h.get(), buf.data(), static_cast<int>(buf.size())), RAG_OK);
            rag_get_document_text(h.get(), dir.str("t0-0.txt").c_str(), buf.data(), static_cast<int>(buf.size()));
        }
    });
    for (int twice = 0; twice < 2; ++twice) {
        tasks.push_back([&] {
            std::vector<char> buf(4096);
            const int size = static_cast<int>(buf.size());
            for (int i = 0; i < 5; ++i) {  // each call after the first reuses part of a prompt
                EXPECT_EQ(rag_generate(h.get(), "prazo7", buf.data(), size), RAG_OK);
                EXPECT_EQ(rag_generate_chat_with_context(h.get(), "", "prazo", "o prazo", buf.data(), size), RAG_OK);
                EXPECT_EQ(rag_generate_with_context(h.get(), "prazo", "", "o prazo", buf.data(), size), RAG_OK);
            }
        });
        tasks.push_back([&] {
            for (int i = 0; i < 20; ++i) rag_start_watching(h.get()), rag_stop_watching(h.get());
        });
    }
    run_together(tasks);
    EXPECT_EQ(sql(dir.str("data/metadata.db"), "SELECT count(*) FROM chunks"), 36);
    rag_search_result results[3];
    EXPECT_EQ(rag_search(h.get(), "prazo7", 3, results), 3);
}

} // namespace
