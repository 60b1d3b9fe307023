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

// Indexing, searching, listing, reading and one answering call on several
// threads at once.
TEST_F(ApiConcurrency, IndexingSearchingReadingAndAnsweringOverlap) {
    const std::string text = long_text("prazo");
    std::vector<std::function<void()>> tasks;
    for (const char *t : {"t0-", "t1-", "t2-"}) {
        tasks.push_back([&, t] {
            for (const std::string i : {"0", "1", "2", "3"})
                EXPECT_EQ(rag_add_text_document(h.get(), dir.str(t + i + ".txt").c_str(), text.c_str()), RAG_OK);
        });
    }
    tasks.push_back([&] {
        rag_search_result results[3];
        std::vector<char> buf(1 << 16);
        for (int i = 0; i < 20; ++i) {
            EXPECT_GE(rag_search(h.get(), "prazo7", 3, results), 0);
            EXPECT_EQ(rag_get_indexed_files(h.get(), buf.data(), static_cast<int>(buf.size())), RAG_OK);
            rag_get_document_text(h.get(), dir.str("t0-0.txt").c_str(), buf.data(), static_cast<int>(buf.size()));
        }
    });
    tasks.push_back([&] {
        std::vector<char> answer(4096);
        for (int i = 0; i < 2; ++i)  // the second reuses part of the first prompt
            EXPECT_EQ(rag_generate(h.get(), "prazo7", answer.data(), static_cast<int>(answer.size())), RAG_OK);
    });
    run_together(tasks);
    EXPECT_EQ(sql(dir.str("data/metadata.db"), "SELECT count(*) FROM chunks"), 36);
    rag_search_result results[3];
    EXPECT_EQ(rag_search(h.get(), "prazo7", 3, results), 3);
}

// They share the chat model: an overlapping call must wait, not crash.
TEST_F(ApiConcurrency, AnsweringCallsTakeTurns) {
    const std::function<void()> answer = [&] {
        std::vector<char> buf(4096);
        const int size = static_cast<int>(buf.size());
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(rag_generate_chat_with_context(h.get(), "", "prazo", "o prazo", buf.data(), size), RAG_OK);
            EXPECT_EQ(rag_generate_with_context(h.get(), "prazo", "", "o prazo", buf.data(), size), RAG_OK);
        }
    };
    run_together({answer, answer});
}

TEST_F(ApiConcurrency, WatchingStartsAndStopsFromSeveralThreads) {
    const std::function<void()> toggle = [&] {
        for (int i = 0; i < 20; ++i) {
            rag_start_watching(h.get());
            rag_stop_watching(h.get());
        }
    };
    run_together({toggle, toggle, toggle, toggle});
    h.reset();
}

} // namespace
