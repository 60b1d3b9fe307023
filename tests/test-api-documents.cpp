// Indexing, listing, reading back and removing documents through the C API,
// on real files with the generated embedding model.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "api/rag_handle.h"
#include "platform/filesystem.h"
#include "rag.h"
#include "test_support.h"

namespace {

using test_support::CapturedOutput;
using test_support::TempDir;
using test_support::write_file;
namespace fs = std::filesystem;

constexpr int64_t kTicksPerSecond = 10000000;

using test_support::HandlePtr;

std::string words(int n, const std::string &stem = "palavra") {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? " " : "") + stem + std::to_string(i);
    return s;
}

// Sets a file's modification time to a point given in 100 ns ticks since 1601.
void set_mtime_ticks(const fs::path &p, int64_t ticks) {
    const int64_t unix_ticks = ticks - 11644473600LL * kTicksPerSecond;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = unix_ticks / kTicksPerSecond;
    times[0].tv_nsec = times[1].tv_nsec = (unix_ticks % kTicksPerSecond) * 100;
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

class ApiDocuments : public ::testing::Test {
protected:
    TempDir dir;
    HandlePtr h;

    HandlePtr open_handle() {
        return HandlePtr(rag_create("none.gguf", test_support::embed_model().c_str(),
                                    dir.str("index.bin").c_str(), dir.str().c_str(),
                                    dir.str("data").c_str(), 0, 2));
    }
    void SetUp() override {
        h = open_handle();
        ASSERT_TRUE(h);
        CapturedOutput quiet;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
    }
    std::string file(const std::string &name, const std::string &content) {
        write_file(dir.path() / name, content);
        return dir.str(name);
    }
    int add(const std::string &path) {
        CapturedOutput quiet;
        return rag_add_document(h.get(), path.c_str());
    }
    std::string text_of(const std::string &path) {
        std::vector<char> buf(1 << 20);
        EXPECT_EQ(rag_get_document_text(h.get(), path.c_str(), buf.data(), (int)buf.size()), RAG_OK);
        return buf.data();
    }
    std::string indexed_files() {
        char buf[4096];
        EXPECT_EQ(rag_get_indexed_files(h.get(), buf, sizeof buf), RAG_OK);
        return buf;
    }
};

TEST(ApiDocumentsUninitialised, CodesAndMessages) {
    TempDir dir;
    HandlePtr h(rag_create("", "", dir.str("i").c_str(), "", dir.str("d").c_str(), 0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(rag_add_document(h.get(), "x.txt"), RAG_ERR_NOT_INITIALIZED);
    EXPECT_STREQ(rag_last_error(h.get()), "Engine not initialized. Call rag_init() first.");
    EXPECT_EQ(rag_add_text_document(h.get(), "x.txt", "t"), RAG_ERR_NOT_INITIALIZED);
    EXPECT_STREQ(rag_last_error(h.get()), "Engine not initialized.");
    set_last_error(h.get(), "earlier");
    EXPECT_EQ(rag_remove_document(h.get(), "x.txt"), RAG_ERR_NOT_INITIALIZED);
    EXPECT_STREQ(rag_last_error(h.get()), "earlier");
    EXPECT_EQ(rag_is_file_indexed(h.get(), "x.txt"), 0);
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(rag_get_indexed_files(h.get(), buf, sizeof buf), RAG_OK);
    EXPECT_EQ(std::string(buf, 8), std::string(8, '\0'));
    EXPECT_EQ(rag_get_document_text(h.get(), "x.txt", buf, sizeof buf), RAG_OK);
    EXPECT_STREQ(buf, "");
}

TEST_F(ApiDocuments, NullArgumentsAreRejectedWithoutMessage) {
    set_last_error(h.get(), "earlier");
    char buf[4];
    EXPECT_EQ(rag_add_document(h.get(), nullptr), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_add_document(nullptr, "a"), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_add_text_document(h.get(), "a", nullptr), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_remove_document(h.get(), nullptr), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_is_file_indexed(h.get(), nullptr), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_get_indexed_files(h.get(), buf, 0), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_get_indexed_files(h.get(), nullptr, 4), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(rag_get_document_text(h.get(), "a", buf, -1), RAG_ERR_INVALID_ARGUMENT);
    EXPECT_STREQ(rag_last_error(h.get()), "earlier");
}

TEST_F(ApiDocuments, IndexesOnceAndReindexesAfterTwoSeconds) {
    const std::string path = file("contrato.txt", words(300));
    const int64_t t0 = 133000000000000000LL;
    set_mtime_ticks(path, t0);
    EXPECT_EQ(add(path), RAG_OK);
    EXPECT_EQ(rag_is_file_indexed(h.get(), path.c_str()), 1);
    EXPECT_EQ(h->engine->vector_store()->get_file_chunks(path).size(), 2u);

    {  // unchanged, and 1.9999999 s later still unchanged: no work at all
        set_mtime_ticks(path, t0 + 2 * kTicksPerSecond - 1);
        CapturedOutput out;
        EXPECT_EQ(rag_add_document(h.get(), path.c_str()), RAG_OK);
        EXPECT_EQ(out.out(), "");
    }

    write_file(path, "novo conteudo curto");
    set_mtime_ticks(path, t0 + 2 * kTicksPerSecond);
    EXPECT_EQ(rag_is_file_indexed(h.get(), path.c_str()), 0);
    CapturedOutput out;
    EXPECT_EQ(rag_add_document(h.get(), path.c_str()), RAG_OK);
    EXPECT_NE(out.out().find("[Engine] Indexing NEW or MODIFIED file: " + path + "\n"), std::string::npos);
    EXPECT_NE(out.out().find("[Engine] Removing document: " + path + "\n"), std::string::npos);
    EXPECT_NE(out.out().find("[Engine] 1 chunks from " + path + "\n"), std::string::npos);
    const auto chunks = h->engine->vector_store()->get_file_chunks(path);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].chunk_id, 0);
    EXPECT_EQ(chunks[0].page_number, 1);
    EXPECT_EQ(text_of(path), "novo conteudo curto");
}

TEST_F(ApiDocuments, MissingEmptyAndUnreadablePaths) {
    const std::string missing = dir.str("missing.txt");
    EXPECT_EQ(add(missing), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_last_error(h.get()), "Failed to index: " + missing);
    EXPECT_EQ(rag_is_file_indexed(h.get(), missing.c_str()), 0);

    const std::string empty = file("empty.txt", "");
    EXPECT_EQ(add(empty), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_is_file_indexed(h.get(), empty.c_str()), 1);
    EXPECT_EQ(add(empty), RAG_OK);

    const std::string blank = file("blank.txt", " \n\t ");
    EXPECT_EQ(add(blank), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_is_file_indexed(h.get(), blank.c_str()), 1);

    // A directory can never be read: failure at once, and not recorded.
    fs::create_directory(dir.path() / "folder");
    EXPECT_EQ(add(dir.str("folder")), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_is_file_indexed(h.get(), dir.str("folder").c_str()), 0);

    // Bytes that are not UTF-8 cannot name a path.
    EXPECT_EQ(add(dir.str("bad\xff.txt")), RAG_ERR_DOCUMENT_FAILED);
    EXPECT_EQ(rag_is_file_indexed(h.get(), dir.str("bad\xff.txt").c_str()), 0);
}

TEST_F(ApiDocuments, DecodesEveryEncodingToUtf8) {
    const std::string utf16 = file("u16.txt", std::string("\xFF\xFE" "c\0a\0f\0\xE9\0", 10));
    const std::string latin1 = file("l1.txt", "caf\xE9 com a\xE7\xFA" "car");
    const std::string bom = file("bom.txt", "\xEF\xBB\xBF" "p\xC3\xA3o");
    for (const std::string &p : {utf16, latin1, bom}) EXPECT_EQ(add(p), RAG_OK) << p;
    EXPECT_EQ(text_of(utf16), "caf\xC3\xA9");
    EXPECT_EQ(text_of(latin1), "caf\xC3\xA9 com a\xC3\xA7\xC3\xBA" "car");
    EXPECT_EQ(text_of(bom), "p\xC3\xA3o");
}

TEST_F(ApiDocuments, ListingIsWholeOrNothing) {
    const std::string a = file("a.txt", "primeiro documento");
    const std::string b = file("b.txt", "segundo documento");
    ASSERT_EQ(add(a), RAG_OK);
    ASSERT_EQ(add(b), RAG_OK);
    const std::string listing = indexed_files();
    EXPECT_TRUE(listing == normalize_path(a) + "\n" + normalize_path(b) + "\n" ||
                listing == normalize_path(b) + "\n" + normalize_path(a) + "\n")
        << listing;

    std::vector<char> buf(listing.size() + 1, 'x');
    set_last_error(h.get(), "earlier");
    EXPECT_EQ(rag_get_indexed_files(h.get(), buf.data(), (int)listing.size()), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(listing.size() + 1, 'x'));
    EXPECT_STREQ(rag_last_error(h.get()), "earlier");
    EXPECT_EQ(rag_get_indexed_files(h.get(), buf.data(), (int)buf.size()), RAG_OK);
    EXPECT_EQ(std::string(buf.data()), listing);

    EXPECT_EQ(text_of(dir.str("never.txt")), "");
}

TEST_F(ApiDocuments, TextDocumentsAndRemoval) {
    const std::string virtual_path = dir.str("virtual/doc.pdf");
    ASSERT_EQ(rag_add_text_document(h.get(), virtual_path.c_str(), "texto extraido pelo host"), RAG_OK);
    EXPECT_EQ(text_of(virtual_path), "texto extraido pelo host");
    EXPECT_EQ(indexed_files(), "");  // a path that names no file is never recorded

    ASSERT_EQ(rag_add_text_document(h.get(), virtual_path.c_str(), ""), RAG_OK);
    EXPECT_EQ(text_of(virtual_path), "");

    const std::string real = file("real.txt", "conteudo do arquivo");
    ASSERT_EQ(rag_add_text_document(h.get(), real.c_str(), "texto do host"), RAG_OK);
    EXPECT_EQ(rag_is_file_indexed(h.get(), real.c_str()), 1);
    // Unchanged and recorded: the new text is ignored.
    ASSERT_EQ(rag_add_text_document(h.get(), real.c_str(), "outro texto"), RAG_OK);
    EXPECT_EQ(text_of(real), "texto do host");

    EXPECT_EQ(rag_remove_document(h.get(), real.c_str()), RAG_OK);
    EXPECT_EQ(text_of(real), "");
    EXPECT_EQ(rag_is_file_indexed(h.get(), real.c_str()), 0);
    EXPECT_EQ(rag_remove_document(h.get(), dir.str("never.txt").c_str()), RAG_OK);
}

TEST_F(ApiDocuments, EverythingSurvivesANewHandle) {
    const std::string a = file("a.txt", "o contrato de aluguel vence em marco");
    ASSERT_EQ(add(a), RAG_OK);
    {
        CapturedOutput quiet;
        h.reset();  // destroy right after indexing: no vector may be lost
        h = open_handle();
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        EXPECT_NE(quiet.out().find("[Engine] Vector store ready. 1 vectors indexed.\n"), std::string::npos);
    }
    EXPECT_EQ(rag_is_file_indexed(h.get(), a.c_str()), 1);
    EXPECT_EQ(indexed_files(), normalize_path(a) + "\n");
    EXPECT_EQ(text_of(a), "o contrato de aluguel vence em marco");
}

TEST(EngineDocuments, NothingStoredMeansFailureAndNoRecord) {
    // A configured width beyond the model's output makes every embedding fail.
    TempDir dir;
    EngineConfig config;
    config.embedding_model_path = test_support::embed_model();
    config.index_path = dir.str("index.bin");
    config.data_dir = dir.str("data");
    config.embedding_dim = 512;
    Engine engine(config);
    CapturedOutput out;
    ASSERT_TRUE(engine.init());
    const std::string path = dir.str("a.txt");
    write_file(path, "algum texto");
    EXPECT_FALSE(engine.add_document(path));
    EXPECT_FALSE(engine.add_text_document(path, "algum texto"));
    EXPECT_FALSE(engine.is_file_indexed(path, platform::last_write_ticks(path)));
    EXPECT_NE(out.err().find("[Engine] Embedding failed for chunk 0\n"), std::string::npos);
}

} // namespace
