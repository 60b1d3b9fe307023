// Indexing progress and status, and watching, through the C API.

#include <future>

#include "test_support.h"

namespace {

using namespace test_support;

class ApiIndexing : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, "none.gguf");
};

TEST_F(ApiIndexing, ReportedFilesLeaveTheQueueWhenTheHostDealsWithThem) {
    const std::string a = dir.str("a.txt"), b = dir.str("b.txt"), empty = dir.str("vazio.txt");
    write_file(a, "x"), write_file(b, "x"), write_file(empty, "");
    // b as a watched directory given with a trailing separator reports it;
    // a file gone again by the time it is looked at is done at once
    for (const std::string &p : {a, native(dir.str() + "//b.txt"), a, empty, dir.str("missing.txt")})
        h->engine->enqueue_changed_file(p);
    EXPECT_EQ(status(h.get()), "Preparing... (1/5)");
    CapturedOutput quiet;
    ASSERT_EQ(rag_add_text_document(h.get(), a.c_str(), "texto do documento"), RAG_OK);
    EXPECT_EQ(status(h.get()), "Preparing... (3/5)");  // both reports of a
    EXPECT_EQ(rag_add_document(h.get(), empty.c_str()), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(status(h.get()), "Preparing... (4/5)");
    ASSERT_EQ(rag_remove_document(h.get(), (b + "/").c_str()), RAG_OK);  // same stored form
    EXPECT_EQ(status(h.get()), "");
    EXPECT_EQ(progress(h.get()), std::make_pair(5, 5));
}

TEST_F(ApiIndexing, StatusNamesTheFileAnotherThreadIsIndexing) {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "palavra" + std::to_string(i) + " ";
    write_file(dir.path() / "outro.txt", "x");
    h->engine->enqueue_changed_file(dir.str("outro.txt"));
    CapturedOutput quiet;
    // Indexing one short file is quick: try again until a poll lands in it.
    bool seen = false;
    for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
        const std::string name = "doc" + std::to_string(attempt) + ".txt";
        write_file(dir.path() / name, text);
        auto host = std::async(std::launch::async, [&] { return rag_add_document(h.get(), dir.str(name).c_str()); });
        for (std::string now; !seen && host.wait_for(std::chrono::seconds(0)) != std::future_status::ready;) {
            if ((now = status(h.get())) == "Indexing: " + name + " (0/1)") {
                seen = true;
                // Given a new time while it is being read, as an edit would, and reported.
                fs::last_write_time(dir.path() / name, fs::file_time_type::clock::now() + std::chrono::hours(1));
                h->engine->enqueue_changed_file(dir.str(name));
            } else {
                EXPECT_EQ(now, "Preparing... (0/1)");
            }
        }
        EXPECT_EQ(host.get(), RAG_OK);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(status(h.get()), "Preparing... (0/2)");  // the edit is still to be indexed
}

// A host importing a document writes it into the watched folder and indexes
// it at once. The watcher, at idle priority beside the embedding threads,
// reports the copy before, during or after that call: in every case it is
// done once the call has ended.
TEST(ApiIndexingAtOnce, AFileTheHostWritesAndIndexesAtOnceIsDone) {
#ifdef __SANITIZE_THREAD__
    const int threads = 1;  // llama.cpp's pool crawls under the thread sanitizer
#else
    const int threads = static_cast<int>(std::thread::hardware_concurrency());
#endif
    TempDir source, dir;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "palavra" + std::to_string(i % 997) + " ";
    write_file(source.path() / "novo.txt", text);
    HandlePtr h = open_handle(dir, "", true, 0, embed_model(), threads);
    CapturedOutput quiet;
    rag_start_watching(h.get());
    const std::string ready = dir.str("pronto.txt");
    ASSERT_TRUE(eventually([&] { return write_file(ready, "x"), progress(h.get()).second > 0; }));
    const auto reported = std::chrono::steady_clock::now();
    const auto settled = [&](int n) { return progress(h.get()) == std::make_pair(n, n) && status(h.get()).empty(); };
    for (int round = 0; round <= 8; ++round) {
        const std::string copy = round ? dir.str("copia" + std::to_string(round) + ".txt") : ready;
        if (round) fs::copy_file(source.path() / "novo.txt", copy);
        ASSERT_EQ(rag_add_document(h.get(), copy.c_str()), RAG_OK);
        ASSERT_TRUE(eventually([&] { return settled(1 + round); })) << "round " << round << ": " << status(h.get());
    }
    // Moved out and back in (past the debounce), it is still as indexed: done at once.
    std::this_thread::sleep_until(reported + std::chrono::milliseconds(2500));
    fs::rename(ready, source.path() / "pronto.txt");
    fs::rename(source.path() / "pronto.txt", ready);
    EXPECT_TRUE(eventually([&] { return progress(h.get()).second == 10; }));
    EXPECT_TRUE(settled(10)) << status(h.get());
}

// A file that shows up and goes again before the host looks at it (a word
// processor's owner file, a download moved elsewhere) leaves nothing waiting;
// one written again right after it went, or one still there, waits for the host.
TEST_F(ApiIndexing, ReportsOfFilesGoneAgainSettle) {
    TempDir outside;
    CapturedOutput quiet;
    rag_start_watching(h.get());
    const std::string ready = dir.str("pronto.txt");
    ASSERT_TRUE(eventually([&] { return write_file(ready, "x"), progress(h.get()).second > 0; }));
    ASSERT_EQ(rag_add_document(h.get(), ready.c_str()), RAG_OK);
    int total = progress(h.get()).second;
    const auto settled = [&] { return progress(h.get()) == std::make_pair(total, total) && status(h.get()).empty(); };
    const auto one_waiting = [&] {
        return "Preparing... (" + std::to_string(total - 1) + "/" + std::to_string(total) + ")";
    };
    // Writes path and waits for its report, which then waits for the host
    // with waiting - 1 others.
    const auto reported = [&](const fs::path &path, int waiting = 1) {
        write_file(path, "x");
        ++total;
        return eventually([&] { return progress(h.get()).second == total; }) &&
               progress(h.get()) == std::make_pair(total - waiting, total);
    };

    ASSERT_TRUE(reported(dir.path() / "~$contrato.docx"));
    fs::remove(dir.path() / "~$contrato.docx");
    EXPECT_TRUE(eventually(settled)) << status(h.get());
    ASSERT_TRUE(reported(dir.path() / "relatorio.pdf"));
    fs::rename(dir.path() / "relatorio.pdf", outside.path() / "relatorio.pdf");
    EXPECT_TRUE(eventually(settled)) << status(h.get());
    // Renamed in the tree: the old name settles, the new one waits.
    ASSERT_TRUE(reported(dir.path() / "rascunho.md"));
    fs::rename(dir.path() / "rascunho.md", dir.path() / "final.md");
    ++total;
    ASSERT_TRUE(eventually([&] { return progress(h.get()) == std::make_pair(total - 1, total); }));
    fs::remove(dir.path() / "final.md");
    EXPECT_TRUE(eventually(settled)) << status(h.get());
#ifndef _WIN32  // Windows is asked for file names only: a directory moved out is not seen
    fs::create_directory(dir.path() / "pasta");
    ASSERT_TRUE(reported(dir.path() / "pasta" / "nota.md"));
    fs::rename(dir.path() / "pasta", outside.path() / "pasta");
    EXPECT_TRUE(eventually(settled)) << status(h.get());
    // Moved back in at once: what it holds is new to the tree again.
    fs::rename(outside.path() / "pasta", dir.path() / "pasta");
    ++total;
    ASSERT_TRUE(eventually([&] { return progress(h.get()) == std::make_pair(total - 1, total); }));
    fs::remove_all(dir.path() / "pasta");
    EXPECT_TRUE(eventually(settled)) << status(h.get());
#endif

    // Gone while nothing watched: settles once watching starts again; a file
    // still there keeps waiting.
    const std::string went = dir.str("saiu.txt"), stays = dir.str("fica.txt");
    ASSERT_TRUE(reported(went));
    ASSERT_TRUE(reported(stays, 2));
    rag_stop_watching(h.get());
    fs::remove(went);
    rag_start_watching(h.get());
    EXPECT_TRUE(eventually([&] { return progress(h.get()) == std::make_pair(total - 1, total); }));
    EXPECT_EQ(status(h.get()), one_waiting());
    ASSERT_EQ(rag_add_document(h.get(), stays.c_str()), RAG_OK);
    EXPECT_TRUE(settled()) << status(h.get());

    // Saved by deleting and writing anew: reported again within the 2 s.
    const std::string a = dir.str("a.txt"), still = dir.str("ainda.txt");
    ASSERT_TRUE(reported(a));
    fs::remove(a);
    write_file(a, "y");
    write_file(still, "x");
    total += 2;
    ASSERT_TRUE(eventually([&] { return progress(h.get()).second >= total; }));
    EXPECT_EQ(progress(h.get()).second, total);
    h->engine->settle_gone_file(still);  // not gone
    ASSERT_EQ(rag_add_document(h.get(), a.c_str()), RAG_OK);
    EXPECT_EQ(progress(h.get()), std::make_pair(total - 1, total));
    EXPECT_EQ(status(h.get()), one_waiting());
}

// A root ("/", "C:\\") ends in its separator already: the files below it are
// those whose names begin with it.
TEST_F(ApiIndexing, AWatchedRootSettlesTheReportsOfFilesGoneBelowIt) {
    const std::string file = dir.str("a.txt");
    write_file(file, "x");
    h->engine->enqueue_changed_file(file);
    fs::remove(file);
    h->engine->settle_gone_file(fs::path(file).root_path().string());
    EXPECT_EQ(progress(h.get()), std::make_pair(1, 1));
}

TEST_F(ApiIndexing, WatchingQueuesChangedFilesWhileItRuns) {
    const std::string a = dir.str("a.txt");
    CapturedOutput out;
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
