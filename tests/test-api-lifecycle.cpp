// Creating, initialising and destroying handles through the C API.

#include "test_support.h"

namespace {

using namespace test_support;

HandlePtr create(const TempDir &dir, const std::string &embed, const std::string &index, int threads = 1) {
    return HandlePtr(rag_create("llm.gguf", embed.c_str(), index.c_str(), dir.str().c_str(),
                                dir.str("data").c_str(), 0, threads));
}

TEST(ApiLifecycle, CreateChecksArgumentsAndMakesTheDataDirectory) {
    TempDir dir;
    const std::string d = dir.str();
    const char *p = d.c_str();
    for (int missing = 0; missing < 5; ++missing) {
        const char *a[5] = {p, p, p, p, p};
        a[missing] = nullptr;
        EXPECT_EQ(rag_create(a[0], a[1], a[2], a[3], a[4], 0, 0), nullptr) << missing;
    }
    EXPECT_EQ(rag_create(p, p, p, p, "", 0, 0), nullptr);
    write_file(dir.path() / "file", "x");
    EXPECT_EQ(rag_create(p, p, p, p, dir.str("file/sub").c_str(), 0, 0), nullptr);
    EXPECT_STREQ(rag_last_error(nullptr), "null handle");
    EXPECT_EQ(rag_init(nullptr), RAG_ERR_INVALID_ARGUMENT);
    rag_destroy(nullptr), rag_start_watching(nullptr), rag_stop_watching(nullptr);

    HandlePtr deep(rag_create("", "", "", "", dir.str("a/b/c").c_str(), -5, -5));
    ASSERT_TRUE(deep);
    EXPECT_TRUE(fs::is_directory(dir.str("a/b/c")));
    EXPECT_STREQ(rag_last_error(deep.get()), "");
}

TEST(ApiLifecycle, InitFailsUntilTheEmbeddingModelIsThereAndRunsOnce) {
    TempDir dir;
    const std::string embed = dir.str("embed.gguf"), done = "[Engine] Initialization complete.";
    HandlePtr h = create(dir, embed, dir.str("index.bin"));
    CapturedOutput out;
    rag_start_watching(h.get());  // nothing to start before init
    EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED);
    fs::copy_file(embed_model(), embed);
    EXPECT_EQ(rag_init(h.get()), RAG_OK);
    EXPECT_EQ(rag_init(h.get()), RAG_OK);
    // Success does not clear the failure.
    EXPECT_STREQ(rag_last_error(h.get()), "Engine initialization failed. Check model paths.");
    EXPECT_HAS(out.out(), done + " (Flutter-driven indexing)\n");
    EXPECT_EQ(out.out().find(done), out.out().rfind(done));  // the second init did nothing
}

// A database, index or index directory that cannot be made; shutting down then writes no index.
TEST(ApiLifecycle, StoreFailureShutsTheEngineDown) {
    for (int bad = 0; bad < 4; ++bad) {
        TempDir dir;
        const fs::path data = dir.path() / "data", index = dir.path() / (bad == 3 ? "file/index.bin" : "index.bin");
        fs::create_directories(bad == 0 ? data / "metadata.db" : bad == 2 ? index : data);
        if (bad == 1) write_file(data / "metadata.db", std::string(4096, 'x'));
        if (bad == 3) write_file(dir.path() / "file", "x");
        HandlePtr h = create(dir, embed_model(), index.string());
        CapturedOutput out;
        EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED) << bad;
        EXPECT_HAS(out.out(), "[Engine] Shutdown complete.\n");
        if (bad == 3) { EXPECT_HAS(out.err(), "[Engine] Failed to create index directory: " + dir.str("file")); }
        EXPECT_EQ(rag_add_text_document(h.get(), "a.txt", "texto"), RAG_ERR_NOT_INITIALIZED);
        h.reset();
        EXPECT_FALSE(fs::is_regular_file(index)) << bad;
    }
}

// The index is named in UTF-8, also where hnswlib's narrow file calls read another
// encoding. A huge thread count is lowered to the machine: llama.cpp would start a
// thread per count for every batch and never finish one.
TEST(ApiLifecycle, CreatesTheIndexDirectoryAndLowersHugeThreadCounts) {
    TempDir dir;
    const std::string index = dir.str() + "/new/\xc3\xadndice/a\xc3\xa7\xc3\xa3o.bin";  // "índice/ação.bin"
    for (int start = 0; start < 2; ++start) {
        HandlePtr h = create(dir, embed_model(), index, 65536);
        CapturedOutput out;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        ASSERT_LE(h->engine->configuration().n_threads, static_cast<int>(std::thread::hardware_concurrency()));
        if (start == 0) EXPECT_EQ(rag_add_text_document(h.get(), "nota.txt", "o contrato vence em março"), RAG_OK);
        else EXPECT_EQ(out.out().find("Restored"), std::string::npos) << out.out();  // saved at shutdown, loaded
    }
    EXPECT_TRUE(fs::is_regular_file(fs::u8path(index)));
}

} // namespace
