// Reading a file's time may take long (a network share, a scanning filter):
// the host's progress and status polls never wait for it, and host calls on
// one path that overlap it leave the progress as the last of them to end left
// the index. Each read of the file's status is held here until the test lets
// it go on (stat_gate.c).

#include <future>

#include "stat_gate.h"
#include "test_support.h"

namespace {

using namespace test_support;

class SlowFileTimes : public ::testing::Test {
protected:
    void TearDown() override {
        stat_gate_disarm();
        late_polls.clear();  // those that waited for a held read end now
    }

    // Holds each status read of file by other threads until let go.
    void hold_reads() { stat_gate_arm(file.c_str()); }

    // Runs call on another thread and lets each of its held reads go on after
    // handing it to at_each; the call's result.
    int run_held(const std::function<int()> &call, const std::function<void()> &at_each) {
        auto other = std::async(std::launch::async, call);
        while (other.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            if (stat_gate_wait_held(10)) at_each(), stat_gate_release();
        return other.get();
    }

    int add_held(const std::function<void()> &at_each) {
        return run_held([&] { return rag_add_document(h.get(), file.c_str()); }, at_each);
    }

    // An add held in its last look at the file, after its own work (the
    // status has named the file and no longer does), while other_call runs.
    int add_ending_after(const std::function<void()> &other_call) {
        bool indexing = false, called = false;
        return add_held([&] {
            if (status(h.get()).rfind("Indexing: lento.txt", 0) == 0) {
                indexing = true;
            } else if (indexing && !called) {
                called = true;
                other_call();
            }
        });
    }

    // Whether both polls answer within a generous time.
    bool polls_answer() {
        auto poll = std::async(std::launch::async, [this] {
            char buf[256];
            int done = 0, total = 0;
            return rag_get_indexing_status(h.get(), buf, sizeof buf) == RAG_OK &&
                   rag_get_indexing_progress(h.get(), &done, &total) == RAG_OK;
        });
        const bool answered = poll.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        late_polls.push_back(std::move(poll));
        return answered;
    }

    TempDir dir;
    HandlePtr h = open_handle(dir, "");
    const std::string file = dir.str("lento.txt");
    std::vector<std::future<bool>> late_polls;
    CapturedOutput quiet;
};

TEST_F(SlowFileTimes, PollsAnswerWhileTheFileTimeIsRead) {
    write_file(file, "contrato de aluguel");
    hold_reads();
    int held = 0;
    const auto check = [&] {
        ++held;
        EXPECT_TRUE(polls_answer());
    };
    EXPECT_EQ(add_held(check), RAG_OK);
    EXPECT_GT(held, 0);

    // The watcher reports the file as indexed.
    held = 0;
    run_held([&] { return h->engine->enqueue_changed_file(file), 0; }, check);
    EXPECT_GT(held, 0);
    EXPECT_EQ(progress(h.get()), std::make_pair(1, 1));
}

// Another call on the path runs whole while an add is held at its end: the
// outcome that counts is the other's.
TEST_F(SlowFileTimes, OverlappingCallsOnOnePathLeaveTheOutcomeOfTheLastToEnd) {
    write_file(file, "contrato de aluguel");
    hold_reads();
    ASSERT_EQ(add_ending_after([&] { EXPECT_EQ(rag_remove_document(h.get(), file.c_str()), RAG_OK); }), RAG_OK);
    EXPECT_EQ(rag_is_file_indexed(h.get(), file.c_str()), 0);
    h->engine->enqueue_changed_file(file);
    EXPECT_EQ(progress(h.get()), std::make_pair(0, 1));  // not in the index

    // Edited and indexed again while the first add is held.
    ASSERT_EQ(add_ending_after([&] {
                  write_file(file, "contrato renovado");
                  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::hours(1));
                  EXPECT_EQ(rag_add_document(h.get(), file.c_str()), RAG_OK);
              }),
              RAG_OK);
    h->engine->enqueue_changed_file(file);
    EXPECT_EQ(progress(h.get()), std::make_pair(2, 2));  // the edit is in the index
    EXPECT_EQ(status(h.get()), "");
}

} // namespace
