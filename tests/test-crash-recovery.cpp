// A host killed while it indexes, or a database that lost its last commits,
// loses no stored chunk: the next start gives each one its vector again.

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "test_support.h"

namespace {

using namespace test_support;

#ifndef _WIN32
// Kills a forked host process mid-indexing: no fork() on Windows.
class CrashRecovery : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<std::string> docs;
    std::string db = dir.str("data/metadata.db");

    void SetUp() override {
        for (int d = 0; d < 8; ++d) {
            std::string text;  // two chunks, none like another
            for (int w = 0; w < 300; ++w) text += "palavra" + std::to_string(d * 1000 + w) + " ";
            docs.push_back(dir.str("doc" + std::to_string(d) + ".txt"));
            write_file(docs.back(), text);
        }
    }

    // A child process starts and adds docs[first, last) through the C API,
    // telling the parent after the start and each add; it is killed once
    // `adds` of them have returned, while it indexes the next one or waits.
    void index_and_kill(size_t first, size_t last, int adds) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipe_fds[0]);
            if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
                _exit(1);
            rag_handle *h = rag_create("none.gguf", embed_model().c_str(), dir.str("index.bin").c_str(),
                                       dir.str().c_str(), dir.str("data").c_str(), 0, 2);
            if (!h || rag_init(h) != RAG_OK) _exit(1);
            for (size_t i = first; write(pipe_fds[1], "+", 1) == 1 && i < last; ++i)
                if (rag_add_document(h, docs[i].c_str()) != RAG_OK) _exit(1);
            for (;;) pause();
        }
        close(pipe_fds[1]);
        int told = 0;
        char c;
        while (told <= adds && read(pipe_fds[0], &c, 1) == 1) ++told;
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipe_fds[0]);
        ASSERT_EQ(told, adds + 1);
        ASSERT_TRUE(WIFSIGNALED(status));
    }

    // Rows without a point in the saved index file, which holds `deleted`
    // deleted points.
    size_t lost_points(size_t deleted = 0) {
        VectorStore store(dir.str("index.bin"), db, 384, 100000, 16, 200, 200);
        CapturedOutput quiet;
        EXPECT_TRUE(store.init());
        return static_cast<size_t>(sql(db, "SELECT COUNT(*) FROM chunks")) - (store.element_count() - deleted);
    }

    // Reopens the files; expects `restored` chunks restored, at least `listed`
    // documents, and every chunk of each found by a vector-only search for its
    // own text, as its own vector.
    void reopen_and_check(size_t restored, size_t listed) {
        HandlePtr h = open_handle(dir, "none.gguf", false);
        CapturedOutput out;
        ASSERT_EQ(rag_init(h.get()), RAG_OK);
        const std::string n = std::to_string(restored);
        if (restored) {
            EXPECT_HAS(out.out(), "[Engine] Restored " + n + " of " + n + " chunks missing from the vector index.\n");
        }
        Engine &engine = *h->engine;
        const std::vector<std::string> files = engine.get_indexed_files();
        EXPECT_GE(files.size(), listed);
        for (const std::string &path : files) {
            const std::vector<Chunk> chunks = engine.vector_store()->get_file_chunks(path);
            EXPECT_EQ(chunks.size(), 2u) << path;
            for (const Chunk &chunk : chunks)
                EXPECT_EQ(engine.vector_store()->search(engine.embed(chunk.text), 1, "").at(0).text, chunk.text)
                    << path << " chunk " << chunk.chunk_id;
        }
    }
};

TEST_F(CrashRecovery, EveryStoredChunkIsFoundByMeaningAfterARestart) {
    // Killed while idle after three documents whose last points were not saved
    // (an index file from after the first stands for the throttled saves).
    index_and_kill(0, 1, 1);
    const std::string after_first = read_file(dir.str("index.bin"));
    index_and_kill(1, 3, 2);
    write_file(dir.str("index.bin"), after_first);
    ASSERT_GE(lost_points(), 4u);
    index_and_kill(3, 3, 0);  // the restart's repair is saved at once
    EXPECT_EQ(lost_points(), 0u);

    // A removal whose save was lost leaves live points without rows; the next
    // document must not take over their labels and old vectors.
    sql(db, "DELETE FROM chunks WHERE label >= 4; DELETE FROM indexed_files WHERE path LIKE '%doc2.txt'");
    index_and_kill(3, 4, 1);
    reopen_and_check(2, 3);

    // Killed in the middle of the next documents.
    index_and_kill(4, 8, 2);
    reopen_and_check(lost_points(2), 5);  // labels 4 and 5 stay deleted

    // A database that lost its last commits (as WAL can on power loss) holds
    // rows whose points the saved index has already marked deleted.
    const std::string before = read_file(db);
    {
        HandlePtr h = open_handle(dir, "none.gguf");
        CapturedOutput quiet;
        ASSERT_EQ(rag_remove_document(h.get(), docs[0].c_str()), RAG_OK);
    }
    write_file(db, before);
    reopen_and_check(2, 5);
}
#endif

TEST(StoreRepair, RoomIsMadeForPointsRestoredIntoAFullIndex) {
    StoreFiles f;
    {
        auto s = f.open(2);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(s->add(unit(i), Chunk{i, 1, "a", "t" + std::to_string(i)}), i);
            if (i == 1) s->save_index(true);  // full; the third point is never saved
        }
    }
    auto s = f.open(2);
    ASSERT_EQ(s->reconcile_points(), std::vector<int32_t>{2});
    EXPECT_TRUE(s->restore_point(2, unit(2)));
    EXPECT_EQ(s->search(unit(2), 1, "").at(0).label, 2);
}

} // namespace
