// Creating, initialising and destroying handles through the C API.

#include <cstring>
#include <filesystem>

#include "api/rag_handle.h"
#include "rag.h"
#include "test_support.h"

namespace {

using test_support::CapturedOutput;
using test_support::TempDir;
namespace fs = std::filesystem;

using test_support::HandlePtr;

HandlePtr create(const TempDir &dir, const std::string &embed, int n_ctx = 0, int n_threads = 0) {
    return HandlePtr(rag_create("llm.gguf", embed.c_str(), dir.str("index.bin").c_str(), dir.str().c_str(),
                                dir.str("data").c_str(), n_ctx, n_threads));
}

TEST(ApiLifecycle, CreateRejectsNullStringsAndUncreatableDataDir) {
    TempDir dir;
    const std::string d = dir.str();
    const char *p = d.c_str();
    EXPECT_EQ(rag_create(nullptr, p, p, p, p, 0, 0), nullptr);
    EXPECT_EQ(rag_create(p, nullptr, p, p, p, 0, 0), nullptr);
    EXPECT_EQ(rag_create(p, p, nullptr, p, p, 0, 0), nullptr);
    EXPECT_EQ(rag_create(p, p, p, nullptr, p, 0, 0), nullptr);
    EXPECT_EQ(rag_create(p, p, p, p, nullptr, 0, 0), nullptr);
    EXPECT_EQ(rag_create(p, p, p, p, "", 0, 0), nullptr);

    test_support::write_file(dir.path() / "file", "x");
    EXPECT_EQ(rag_create(p, p, p, p, dir.str("file/sub").c_str(), 0, 0), nullptr);
}

TEST(ApiLifecycle, CreateAppliesDefaultsAndMakesTheDataDirectory) {
    TempDir dir;
    for (int bad : {0, -5}) {
        HandlePtr h = create(dir, "e.gguf", bad, bad);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->engine->configuration().n_ctx, 2048);
        EXPECT_EQ(h->engine->configuration().n_threads, 4);
    }
    HandlePtr h = create(dir, "e.gguf", 4096, 2);
    EXPECT_EQ(h->engine->configuration().n_ctx, 4096);
    EXPECT_EQ(h->engine->configuration().n_threads, 2);
    EXPECT_TRUE(fs::is_directory(dir.path() / "data"));

    const std::string deep = dir.str("a/b/c");
    HandlePtr h2(rag_create("", "", "", "", deep.c_str(), 0, 0));
    ASSERT_TRUE(h2);
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_STREQ(rag_last_error(h2.get()), "");
}

TEST(ApiLifecycle, NullHandleAndVersion) {
    EXPECT_STREQ(rag_last_error(nullptr), "null handle");
    EXPECT_STREQ(rag_version(), "2.2");
    EXPECT_EQ(rag_init(nullptr), RAG_ERR_INVALID_ARGUMENT);
    rag_destroy(nullptr);
}

TEST(ApiLifecycle, MissingEmbeddingModelFailsUntilTheFileIsThere) {
    TempDir dir;
    const std::string embed = dir.str("embed.gguf");
    HandlePtr h = create(dir, embed);
    {
        CapturedOutput out;
        EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED);
        EXPECT_NE(out.err().find("[Engine] Failed to load embedding model: " + embed + "\n"),
                  std::string::npos);
    }
    EXPECT_STREQ(rag_last_error(h.get()), "Engine initialization failed. Check model paths.");

    fs::copy_file(test_support::embed_model(), embed);
    CapturedOutput out;
    EXPECT_EQ(rag_init(h.get()), RAG_OK);
    EXPECT_NE(out.out().find("[Engine] Vector store ready. 0 vectors indexed.\n"), std::string::npos);
    EXPECT_NE(out.out().find("[Engine] Initialization complete. (Flutter-driven indexing)\n"),
              std::string::npos);
    // Success does not clear the earlier failure.
    EXPECT_STREQ(rag_last_error(h.get()), "Engine initialization failed. Check model paths.");
}

TEST(ApiLifecycle, SecondInitDoesNothing) {
    TempDir dir;
    HandlePtr h = create(dir, test_support::embed_model());
    ASSERT_EQ(rag_init(h.get()), RAG_OK);
    CapturedOutput out;
    EXPECT_EQ(rag_init(h.get()), RAG_OK);
    EXPECT_EQ(out.out(), "");
}

TEST(ApiLifecycle, StoreFailureShutsTheEngineDown) {
    TempDir dir;
    // The database cannot be opened when metadata.db is a directory.
    fs::create_directories(dir.path() / "data" / "metadata.db");
    HandlePtr h = create(dir, test_support::embed_model());
    CapturedOutput out;
    EXPECT_EQ(rag_init(h.get()), RAG_ERR_INIT_FAILED);
    const std::string err = out.err();
    EXPECT_NE(err.find("[Engine] Failed to initialize vector store\n"), std::string::npos);
    EXPECT_NE(out.out().find("[Engine] Shutdown complete.\n"), std::string::npos);
    EXPECT_FALSE(h->engine->is_initialized());
}

TEST(ApiLifecycle, DestroyLogsShutdownEvenWithoutInit) {
    TempDir dir;
    HandlePtr h = create(dir, "missing.gguf");
    CapturedOutput out;
    h.reset();
    EXPECT_EQ(out.out(), "[Engine] Shutdown complete.\n");
}

} // namespace
