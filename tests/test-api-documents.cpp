// Indexing, listing, reading back and removing documents through the C API,
// on real files with the generated embedding model.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "test_support.h"

namespace {

using namespace test_support;

constexpr int64_t kTicksPerSecond = 10000000;

// Sets a file's modification time to a point given in 100 ns ticks since 1601.
void set_mtime_ticks(const std::string &p, int64_t ticks) {
#ifdef _WIN32
    const HANDLE f = CreateFileW(std::filesystem::path(p).c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const BOOL set = SetFileTime(f, nullptr, nullptr, &time);
    CloseHandle(f);
    ASSERT_TRUE(set);
#else
    const int64_t unix_ticks = ticks - 11644473600LL * kTicksPerSecond;
    const timespec at{unix_ticks / kTicksPerSecond, (unix_ticks % kTicksPerSecond) * 100}, times[2] = {at, at};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
#endif
}

class ApiDocuments : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h = open_handle(dir, "none.gguf");

    std::string file(const std::string &name, const std::string &content) {
        write_file(dir.path() / name, content);
        return dir.str(name);
    }
    int add(const std::string &path) {
        CapturedOutput quiet;
        return rag_add_document(h.get(), path.c_str());
    }
    int indexed(const std::string &path) { return rag_is_file_indexed(h.get(), path.c_str()); }
};

TEST(ApiUninitialised, CodesMessagesAndUntouchedBuffers) {
    TempDir dir;
    HandlePtr h(rag_create("", "", dir.str("i").c_str(), "", dir.str("d").c_str(), 0, 0));
    ASSERT_TRUE(h);
    char buf[8] = "xxxxxxx";
    rag_search_result r[1];
    int n = 0;
    // NULLs, sizes below 1 and removal set no message.
    set_last_error(h.get(), "earlier");
    for (int code : {rag_add_document(nullptr, "a"), rag_add_text_document(h.get(), "a", nullptr),
                     rag_get_indexing_progress(h.get(), nullptr, &n), rag_get_indexing_status(h.get(), nullptr, 8),
                     rag_get_document_text(h.get(), "a", buf, -1), rag_search(h.get(), nullptr, 3, r),
                     rag_generate(h.get(), "q", buf, 0), rag_generate_with_context(h.get(), nullptr, "a", "b", buf, 8),
                     rag_generate_chat_with_context(h.get(), "h", "q", "d", buf, 0),
                     rag_rewrite_query(h.get(), "h", "q", nullptr, 8)})
        EXPECT_EQ(code, RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_remove_document(h.get(), "x.txt"), RAG_ERR_NOT_INITIALIZED);
    EXPECT_STREQ(rag_last_error(h.get()), "earlier");
    // The others say why, each one, and leave the buffers alone.
    auto says_why = [&](int code, const char *why = "Engine not initialized.") {
        EXPECT_EQ(code, RAG_ERR_NOT_INITIALIZED);
        EXPECT_STREQ(rag_last_error(h.get()), why);
        set_last_error(h.get(), "earlier");
    };
    says_why(rag_add_document(h.get(), "x.txt"), "Engine not initialized. Call rag_init() first.");
    says_why(rag_add_text_document(h.get(), "x.txt", "t"));
    says_why(rag_search(h.get(), "q", 3, r));
    says_why(rag_generate(h.get(), "q", buf, sizeof buf));
    says_why(rag_generate_with_context(h.get(), "q", nullptr, nullptr, buf, sizeof buf));
    says_why(rag_generate_chat_with_context(h.get(), "h", "q", "d", buf, sizeof buf));
    says_why(rag_rewrite_query(h.get(), "h", "q", buf, sizeof buf));
    EXPECT_STREQ(buf, "xxxxxxx");
    // Queries answer "nothing".
    char files[8] = "x";
    EXPECT_EQ(rag_get_document_text(h.get(), "x.txt", buf, sizeof buf), RAG_OK);
    EXPECT_EQ(rag_get_indexed_files(h.get(), files, sizeof files), RAG_OK);
    EXPECT_EQ(std::string(buf) + files, "");
    EXPECT_EQ(rag_is_file_indexed(h.get(), "x.txt"), 0);
}

TEST_F(ApiDocuments, IndexesOnceAndReindexesAfterTwoSeconds) {
    std::string many;
    for (int i = 0; i < 300; ++i) many += " palavra" + std::to_string(i);
    const std::string path = file("contrato.txt", many);
    const int64_t t0 = 133000000000000000LL;
    auto chunks_after_add = [&](int64_t mtime) {
        set_mtime_ticks(path, mtime);
        EXPECT_EQ(add(path), RAG_OK);
        return h->engine->vector_store()->get_file_chunks(path).size();
    };
    EXPECT_EQ(chunks_after_add(t0), 2u);
    // Stored as the file system's own ticks since 1601, not just consistently.
    EXPECT_EQ(sql(dir.str("data/metadata.db"), "SELECT last_modified FROM indexed_files"), t0);
    write_file(path, "novo conteudo curto");
    EXPECT_EQ(chunks_after_add(t0 + 2 * kTicksPerSecond - 1), 2u);  // within two seconds: taken as unchanged
    EXPECT_EQ(chunks_after_add(t0 + 2 * kTicksPerSecond), 1u);
}

TEST_F(ApiDocuments, EmptyUnreadableAndUnembeddableFiles) {
    // Empty and blank files fail but are recorded, so they are not read again.
    for (const std::string &p : {file("empty.txt", ""), file("blank.txt", " \n\t ")}) {
        EXPECT_EQ(add(p), RAG_ERR_DOCUMENT_FAILED) << p;
        EXPECT_EQ(add(p), RAG_OK) << p;
    }
    // A directory can never be read, and is not recorded.
    fs::create_directory(dir.path() / "folder");
    EXPECT_EQ(add(dir.str("folder")), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_last_error(h.get()), "Failed to index: " + dir.str("folder"));
    EXPECT_EQ(indexed(dir.str("folder")), 0);
#ifndef _WIN32
    const std::string pipe = dir.str("pipe");  // an open would wait for a writer
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(add(pipe), RAG_ERR_DOCUMENT_FAILED);
#endif
    // An embedding model of another width than the index makes every embedding
    // fail: with nothing stored, the file is not recorded.
    TempDir other;
    HandlePtr unembedded = open_handle(other, "none.gguf", true, 0, model_path("chat-phi3"));
    const std::string text = file("a.txt", "algum texto");
    CapturedOutput quiet;
    EXPECT_EQ(rag_add_document(unembedded.get(), text.c_str()), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_add_text_document(unembedded.get(), text.c_str(), "algum texto"), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_is_file_indexed(unembedded.get(), text.c_str()), 0);
}

TEST_F(ApiDocuments, TextDocumentsListingAndRemoval) {
    const std::string virtual_path = dir.str("virtual/doc.pdf");
    ASSERT_EQ(rag_add_text_document(h.get(), virtual_path.c_str(), "texto extraido pelo host"), RAG_OK);
    EXPECT_EQ(text_of(h.get(), virtual_path), "texto extraido pelo host");
    ASSERT_EQ(rag_add_text_document(h.get(), virtual_path.c_str(), ""), RAG_OK);
    EXPECT_EQ(text_of(h.get(), virtual_path), "");

    const std::string real = file("real.txt", "conteudo do arquivo");
    ASSERT_EQ(rag_add_text_document(h.get(), real.c_str(), "texto do host"), RAG_OK);
    // Unchanged and recorded: the new text is ignored.
    ASSERT_EQ(rag_add_text_document(h.get(), real.c_str(), "outro texto"), RAG_OK);
    EXPECT_EQ(text_of(h.get(), real), "texto do host");
    // Only a path that names a file is recorded, as the host can open it again;
    // the listing ends each path with a newline.
    char listing[512];
    EXPECT_EQ(rag_get_indexed_files(h.get(), listing, sizeof listing), RAG_OK);
    EXPECT_EQ(std::string(listing), real + "\n");

    EXPECT_EQ(rag_remove_document(h.get(), real.c_str()), RAG_OK);
    EXPECT_EQ(indexed(real), 0);
    EXPECT_EQ(rag_remove_document(h.get(), dir.str("never.txt").c_str()), RAG_OK);
}

} // namespace
