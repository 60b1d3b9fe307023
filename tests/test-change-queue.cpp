// The change queue's judgement of reports that arrive while a host call on
// their path runs (the C API tests cannot hold a removal at that point).

#include <gtest/gtest.h>

#include "engine/change_queue.h"

namespace {

constexpr int64_t kOld = 100'000'000'000, kNew = kOld + 36'000'000'000;  // an hour apart

// A call's outcome: the index holding indexed, the file now at now (by default the same).
std::function<ChangeQueue::Outcome()> left(std::optional<int64_t> indexed, std::optional<int64_t> now = std::nullopt) {
    return [=] { return ChangeQueue::Outcome{indexed, now ? now : indexed}; };
}

std::pair<int, int> progress(ChangeQueue &q) {
    const ChangeQueue::Counts c = q.counts();
    return {c.done, c.total};
}

TEST(ChangeQueue, AReportDuringACallIsJudgedByWhatTheCallLeft) {
    ChangeQueue q;
    q.end(q.begin("a.txt"), left(kOld));

    // Unchanged, but being removed: not done once the removal ends.
    ChangeQueue::Call removal = q.begin("a.txt");
    q.report("a.txt", kOld);
    EXPECT_EQ(progress(q), std::make_pair(0, 1));
    q.end(removal, left(std::nullopt));
    EXPECT_EQ(progress(q), std::make_pair(0, 1));
    EXPECT_TRUE(q.counts().pending);

    // Indexed as the report saw it, but changed again since (a report the
    // watcher held back): still to do.
    ChangeQueue::Call add = q.begin("a.txt");
    q.report("a.txt", kNew);
    q.end(add, left(kNew, kNew + 36'000'000'000));
    EXPECT_EQ(progress(q), std::make_pair(1, 2));  // only the report from before the call

    add = q.begin("a.txt");
    q.report("a.txt", kNew);
    q.end(add, left(kNew));
    EXPECT_EQ(progress(q), std::make_pair(3, 3));
    EXPECT_FALSE(q.counts().pending);
}

// A file seen gone settles only the reports queued before it was looked at.
TEST(ChangeQueue, AGoneFileSettlesTheReportsQueuedBeforeItWasSeenGone) {
    ChangeQueue q;
    q.report("d/a.txt", kOld);
    q.report("d/b.txt", kOld);
    q.report("e/c.txt", kOld);
    const ChangeQueue::Queued queued = q.queued("d", "d/");
    EXPECT_EQ(queued.keys, (std::vector<std::string>{"d/a.txt", "d/b.txt"}));
    q.report("d/a.txt", kNew);  // written again after the look
    q.settle_gone({"d/a.txt"}, queued.mark);
    EXPECT_EQ(progress(q), std::make_pair(1, 4));
}

} // namespace
