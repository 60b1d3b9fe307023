// Creating, initialising and destroying handles through the C API.

#include <filesystem>

#include "api/rag_handle.h"
#include "rag.h"
#include "test_support.h"

namespace {

using namespace test_support;

HandlePtr create(const TempDir &dir, const std::string &embed, int n_ctx = 0, int n_threads = 0) {
    return HandlePtr(rag_create("llm.gguf", embed.c_str(), dir.str("index.bin").c_str(), dir.str().c_str(),
                                dir.str("data").c_str(), n_ctx, n_threads));
}

TEST(ApiLifecycle, CreateChecksArgumentsAndAppliesDefaults) {
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
    EXPECT_STREQ(rag_version(), "2.2");
    EXPECT_EQ(rag_init(nullptr), RAG_ERR_INVALID_ARGUMENT);
    rag_destroy(nullptr);

    for (int unset : {0, -5}) {
        HandlePtr h = create(dir, "e.gguf", unset, unset);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->engine->configuration().n_ctx, 2048);
        EXPECT_EQ(h->engine->configuration().n_threads, 4);
    }
    HandlePtr h = create(dir, "e.gguf", 4096, 2);
    EXPECT_EQ(h->engine->configuration().n_ctx, 4096);
    EXPECT_EQ(h->engine->configuration().n_threads, 2);
    EXPECT_STREQ(rag_last_error(h.get()), "");

    HandlePtr deep(rag_create("", "", "", "", dir.str("a/b/c").c_str(), 0, 0));
    ASSERT_TRUE(deep);
    EXPECT_TRUE(fs::is_directory(dir.str("a/b/c")));
    CapturedOutput out;
    deep.reset();  // never initialised, still shut down
    EXPECT_EQ(out.out(), "[Engine] Shutdown complete.\n");
}

TEST(ApiLifecycle, InitFailsUntilTheEmbeddingModelIsThere) {
    TempDir dir;
    const std::string embed = dir.str("embed.gguf");
    HandlePtr h = create(dir, embed);
    {
        CapturedOutput out;
        EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED);
        EXPECT_HAS(out.err(), "[Engine] Failed to load embedding model: " + embed + "\n");
    }
    EXPECT_STREQ(rag_last_error(h.get()), "Engine initialization failed. Check model paths.");

    fs::copy_file(embed_model(), embed);
    {
        CapturedOutput out;
        EXPECT_EQ(rag_init(h.get()), RAG_OK);
        EXPECT_HAS(out.out(), "[Engine] Vector store ready. 0 vectors indexed.\n");
        EXPECT_HAS(out.out(), "[Engine] Initialization complete. (Flutter-driven indexing)\n");
    }
    // Success does not clear the earlier failure.
    EXPECT_STREQ(rag_last_error(h.get()), "Engine initialization failed. Check model paths.");
    CapturedOutput out;
    EXPECT_EQ(rag_init(h.get()), RAG_OK);
    EXPECT_EQ(out.out(), "");  // a second init does nothing
}

TEST(ApiLifecycle, StoreFailureShutsTheEngineDown) {
    TempDir dir;
    // The database cannot be opened when metadata.db is a directory.
    fs::create_directories(dir.path() / "data" / "metadata.db");
    HandlePtr h = create(dir, embed_model());
    CapturedOutput out;
    EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED);
    EXPECT_HAS(out.err(), "[Engine] Failed to initialize vector store\n");
    EXPECT_HAS(out.out(), "[Engine] Shutdown complete.\n");
    EXPECT_FALSE(h->engine->is_initialized());
}

TEST(ApiLifecycle, TheIndexDirectoryIsCreatedOrInitFails) {
    TempDir dir;
    const std::string index = dir.str("new/nested/index.bin");
    auto open = [&](const std::string &index_path) {
        return HandlePtr(rag_create("llm.gguf", embed_model().c_str(), index_path.c_str(), dir.str().c_str(),
                                    dir.str("data").c_str(), 0, 2));
    };
    {
        HandlePtr h = open(index);
        CapturedOutput quiet;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        EXPECT_EQ(rag_add_text_document(h.get(), "nota.txt", "o contrato vence em março"), RAG_OK);
    }
    {
        HandlePtr h = open(index);
        CapturedOutput out;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        EXPECT_HAS(out.out(), "[Engine] Vector store ready. 1 vectors indexed.\n");
    }
    write_file(dir.path() / "file", "x");
    HandlePtr blocked = open(dir.str("file/index.bin"));
    CapturedOutput out;
    EXPECT_EQ(rag_init(blocked.get()), RAG_ERR_INIT_FAILED);
    EXPECT_HAS(out.err(), "[Engine] Failed to create index directory: " + dir.str("file"));
    EXPECT_STREQ(rag_last_error(blocked.get()), "Engine initialization failed. Check model paths.");
}

} // namespace
