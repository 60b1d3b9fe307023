// Paths and names through the C API: UTF-8 on both platforms, never read in
// Windows' ANSI code page unless they are not UTF-8; bytes on Linux.

#ifdef _WIN32
#include <windows.h>
#endif

#include "test_support.h"

namespace {

using namespace test_support;

// "João", "Documentos Úteis", "ação", and Greek and CJK, which code page 1252 lacks.
const std::string kJoao = "Jo\xC3\xA3o", kUteis = "Documentos \xC3\x9Ateis", kAcao = "a\xC3\xA7\xC3\xA3o",
                  kFar = "\xCE\xB1\xCE\xB2 \xE5\x90\x88\xE5\x90\x8C";
const char *const kText = "O contrato de aluguel vence em mar\xC3\xA7o de 2031.";

fs::path u8(const std::string &utf8) { return fs::u8path(utf8); }

// Watches until writing file is reported.
void watch_until_reported(rag_handle *h, const fs::path &file) {
    rag_start_watching(h);
    EXPECT_TRUE(eventually([&] { return write_file(file, kText), progress(h).second > 0; }));
    rag_stop_watching(h);
}

// Initialises h and indexes doc, written with kText.
void index_document(rag_handle *h, const std::string &doc) {
    write_file(doc, kText);
    CapturedOutput quiet;
    ASSERT_EQ(rag_init(h), RAG_OK);
    EXPECT_EQ(rag_add_document(h, doc.c_str()), RAG_OK);
}

TEST(ApiPaths, NonAsciiNamesWorkAtEveryStep) {
    TempDir tmp;
    const fs::path root = tmp.path() / u8(kJoao), models = root / u8("Modelos " + kJoao),
                   watched = root / u8(kFar), data = root / u8(kUteis), doc = watched / u8(kAcao + " " + kFar + ".txt");
    for (const fs::path &d : {models, watched}) fs::create_directories(d);
    fs::copy_file(embed_model(), models / "embed.gguf");
    fs::copy_file(model_path("chat-phi3"), models / u8(kFar + ".gguf"));
    HandlePtr h(rag_create((models / u8(kFar + ".gguf")).u8string().c_str(), (models / "embed.gguf").u8string().c_str(),
                           (root / u8(kFar + ".bin")).u8string().c_str(), watched.u8string().c_str(),
                           data.u8string().c_str(), 0, 1));
    CapturedOutput out;
    ASSERT_EQ(rag_init(h.get()), RAG_OK);
    EXPECT_TRUE(fs::is_regular_file(data / "metadata.db"));

    watch_until_reported(h.get(), doc);
    const std::string path = doc.u8string();
#ifdef _WIN32
    // Held open without sharing, the document is waited for while the status names it.
    h->engine->read_retry = {std::chrono::milliseconds(10), 2000};
    const HANDLE lock = CreateFileW(doc.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    std::thread host([&] { EXPECT_EQ(rag_add_document(h.get(), path.c_str()), RAG_OK); });
    EXPECT_TRUE(eventually([&] { return status(h.get()) == "Indexing: " + kAcao + " " + kFar + ".txt (0/1)"; }));
    CloseHandle(lock);
    host.join();
#else
    EXPECT_EQ(rag_add_document(h.get(), path.c_str()), RAG_OK);
#endif
    EXPECT_EQ(progress(h.get()), std::make_pair(1, 1));
    EXPECT_EQ(rag_is_file_indexed(h.get(), path.c_str()), 1);
    // Stored under the path as given: found by it, with the file's text.
    EXPECT_EQ(text_of(h.get(), path), kText);
    char buf[1024];
    ASSERT_EQ(rag_generate(h.get(), "Quando vence o contrato de aluguel?", buf, sizeof buf), RAG_OK);
    EXPECT_HAS(std::string(buf), "o contrato vence em mar\xC3\xA7o de 2031.");
    h.reset();
    EXPECT_HAS(out.out(), "[Indexer] File changed: " + path + "\n");
    EXPECT_TRUE(fs::is_regular_file(root / u8(kFar + ".bin")));
}

#ifdef _WIN32
// A host that passes ANSI gets the same folders, and a file reported in either
// form is settled by the other.
TEST(ApiPaths, AnsiStringsStillWork) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
    TempDir tmp;
    const std::string ansi = tmp.str() + "\\Jo\xE3o", utf8 = (tmp.path() / u8(kJoao)).u8string();
    for (const bool watch_in_ansi : {true, false}) {
        HandlePtr h(rag_create("", embed_model().c_str(), (ansi + "\\\xEDndice.bin").c_str(),
                               (watch_in_ansi ? ansi : utf8).c_str(), (ansi + "\\Documentos \xDAteis").c_str(), 0, 1));
        EXPECT_TRUE(fs::is_directory(tmp.path() / u8(kJoao) / u8(kUteis)));
        CapturedOutput quiet;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        const std::string n = watch_in_ansi ? "1" : "2";
        watch_until_reported(h.get(), tmp.path() / u8(kJoao) / u8(kAcao + n + ".txt"));
        const std::string doc = watch_in_ansi ? utf8 + "\\" + kAcao + n + ".txt" : ansi + "\\a\xE7\xE3o" + n + ".txt";
        EXPECT_EQ(rag_add_document(h.get(), doc.c_str()), RAG_OK);
        EXPECT_EQ(progress(h.get()), std::make_pair(1, 1)) << "watched in " << (watch_in_ansi ? "ANSI" : "UTF-8");
    }
}

// "\dir" names a folder on the current drive, "C:dir" one in C:'s current
// directory: the models and the index stay on the drive of the handle's making
// when a file dialog moves the working directory to another drive.
TEST(ApiPaths, DrivelessPathsStayOnTheDriveTheyWereMadeOn) {
    TempDir tmp;
    const fs::path started = fs::current_path();
    if (started.root_name() == tmp.path().root_name()) GTEST_SKIP() << "needs the working directory off " << tmp.str();
    const std::string rooted = (tmp.path().root_directory() / tmp.path().relative_path()).string(),
                      drive = tmp.path().root_name().string(), doc = tmp.str("contrato.txt");
    fs::create_directories(tmp.path() / "modelos");
    fs::copy_file(model_path("chat-phi3"), tmp.path() / "modelos" / "chat.gguf");
    fs::copy_file(embed_model(), tmp.path() / "modelos" / "embed.gguf");
    fs::current_path(tmp.path());
    HandlePtr h(rag_create((rooted + "\\modelos\\chat.gguf").c_str(), (drive + "modelos\\embed.gguf").c_str(),
                           (rooted + "\\idx\\index.bin").c_str(), tmp.str().c_str(), (rooted + "\\dados").c_str(),
                           0, 1));
    fs::current_path(started);
    index_document(h.get(), doc);
    EXPECT_HAS(answer(h.get(), "Quando vence o contrato de aluguel?"), "o contrato vence em mar\xC3\xA7o de 2031.");
    h.reset();
    EXPECT_TRUE(fs::is_regular_file(tmp.path() / "idx" / "index.bin"));
}
#else
// A name is bytes on Linux; relative paths stay where they were when the
// handle was made, for the models, the index, the database and the dumps.
TEST(ApiPaths, BytesPassThroughAndRelativePathsStayWhereTheyWereMade) {
    TempDir tmp;
    const std::string latin1 = tmp.str("dados-\xE7\xE3o"), doc = latin1 + "/contrato-\xE7\xE3o.txt";
    fs::create_directories(tmp.path() / "modelos");
    fs::create_symlink(model_path("chat-phi3"), tmp.path() / "modelos" / "chat.gguf");
    fs::create_symlink(embed_model(), tmp.path() / "modelos" / "embed.gguf");
    const fs::path started = fs::current_path();
    fs::current_path(tmp.path());
    HandlePtr h(rag_create("modelos/chat.gguf", "modelos/embed.gguf", "dados-\xE7\xE3o/idx/index.bin",
                           latin1.c_str(), "dados-\xE7\xE3o", 0, 1));
    fs::current_path(started);
    index_document(h.get(), doc);
    char buf[256];
    CapturedOutput quiet;
    ASSERT_EQ(rag_generate_with_context(h.get(), "Quando?", doc.c_str(), nullptr, buf, sizeof buf), RAG_OK);
    EXPECT_NE(std::string(buf).rfind("[ERROR]", 0), 0u) << buf;
    h.reset();
    EXPECT_TRUE(fs::is_regular_file(latin1 + "/prompt_dump.txt"));
    EXPECT_TRUE(fs::is_regular_file(latin1 + "/idx/index.bin"));
}
#endif

} // namespace
