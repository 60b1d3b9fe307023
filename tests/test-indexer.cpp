// The directory watcher on real directory trees: what it reports, debounce,
// start/stop lifecycle, and the wake-up that ends a wait.

#include <mutex>
#include <stdexcept>

#include "indexer/indexer.h"
#include "platform/directory_watch.h"
#include "test_support.h"

namespace {

using namespace test_support;

// Collects the callback's paths; throws for the paths in throw_for.
class Reports {
public:
    Indexer::ChangeCallback callback() {
        return [this](const std::string &path) {
            std::lock_guard<std::mutex> lock(mutex);
            paths.push_back(path);
            if (path == throw_for) throw std::runtime_error("boom");
        };
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(mutex);
        return paths;
    }
    size_t count(const std::string &path) {
        const auto v = all();
        return static_cast<size_t>(std::count(v.begin(), v.end(), path));
    }
    // Touches path until it is reported: from then on changes are seen.
    void touch_until_watching(const std::string &path) {
        ASSERT_TRUE(eventually([&] {
            write_file(path, "x");
            return count(path) > 0;
        }));
    }
    std::string throw_for;

private:
    std::mutex mutex;
    std::vector<std::string> paths;
};

std::string changed(const std::vector<std::string> &paths) {
    std::string lines;
    for (const std::string &p : paths) lines += "[Indexer] File changed: " + p + "\n";
    return lines;
}

TEST(Indexer, ReportsSupportedFilesCreatedWrittenOrMovedInOncePerDebounce) {
    TempDir dir, outside;
    const std::string d = dir.str();
    fs::create_directories(dir.path() / "old");
    fs::create_directories(outside.path() / "in");
    for (const char *f : {"gone.txt", "draft.tmp", "keep.txt"}) write_file(dir.path() / f, "x");
    write_file(outside.path() / "in" / "z.txt", "x");
    Reports reports;
    CapturedOutput out;
    Indexer indexer(d, reports.callback(), 60000);
    indexer.start();
    indexer.start();  // already running: no second thread
    reports.touch_until_watching(d + "/ready.txt");

    write_file(dir.path() / "a.txt", "1");
    write_file(dir.path() / "a.txt", "2");
    write_file(dir.path() / "notes.bin", "x");
    fs::remove(dir.path() / "gone.txt");
    fs::rename(dir.path() / "draft.tmp", dir.path() / "draft.md");
    fs::rename(dir.path() / "keep.txt", dir.path() / "keep.bak");
    fs::create_directories(dir.path() / "sub" / "deeper");
    write_file(dir.path() / "sub" / "deeper" / "n.txt", "x");
    write_file(dir.path() / "old" / "x.log", "x");
    fs::rename(dir.path() / "old", outside.path() / "old");
    write_file(outside.path() / "old" / "y.txt", "x");  // no longer in the tree
    fs::rename(outside.path() / "in", dir.path() / "moved");  // its files come with it
    write_file(dir.path() / "zz.txt", "x");
    ASSERT_TRUE(eventually([&] { return reports.count(d + "/zz.txt") == 1; }));
    indexer.stop();
    indexer.stop();

    const std::vector<std::string> expected = {d + "/ready.txt", d + "/a.txt", d + "/draft.md",
                                               d + "/sub/deeper/n.txt", d + "/old/x.log",
                                               d + "/moved/z.txt", d + "/zz.txt"};
    EXPECT_EQ(reports.all(), expected);
    EXPECT_EQ(out.out(), "[Indexer] Watcher thread started (IDLE priority)\n" + changed(expected) +
                             "[Indexer] Watcher thread stopped\n");
    EXPECT_EQ(out.err(), "");
}

TEST(Indexer, ReportsAgainAfterTheDebounceAndSurvivesAThrowingCallback) {
    TempDir dir;
    const std::string ready = dir.str("ready.txt"), a = dir.str("a.txt");
    Reports reports;
    reports.throw_for = ready;
    CapturedOutput out;
    Indexer indexer(dir.str(), reports.callback(), 300);
    indexer.start();
    reports.touch_until_watching(ready);
    write_file(a, "1");
    ASSERT_TRUE(eventually([&] { return reports.count(a) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    write_file(a, "2");
    EXPECT_TRUE(eventually([&] { return reports.count(a) == 2; }));
    indexer.stop();
    EXPECT_HAS(out.err(), "[Indexer] Change callback failed for " + ready + ": boom\n");
}

TEST(Indexer, MissingDirectoryEndsTheWatcherUntilTheNextStart) {
    TempDir dir;
    const std::string missing = dir.str("missing");
    Reports reports;
    CapturedOutput out;
    {
        Indexer indexer(missing, reports.callback(), 0);
        indexer.start();
        ASSERT_TRUE(eventually([&] { return !indexer.is_running(); }));
        fs::create_directories(missing);
        indexer.start();
        reports.touch_until_watching(missing + "/ready.txt");
    }  // destroyed while watching
    EXPECT_EQ(out.err(), "[Indexer] Failed to open directory: " + missing + " (error 2)\n");
    EXPECT_HAS(out.out(), "[Indexer] Watcher thread started (IDLE priority)\n"
                          "[Indexer] Watcher thread stopped\n"
                          "[Indexer] Watcher thread started (IDLE priority)\n");
}

TEST(Indexer, WakeEndsTheCurrentAndEveryLaterWait) {
    TempDir dir;
    platform::DirectoryWatch watch;
    ASSERT_EQ(watch.open(dir.str()), 0u);
    using Status = platform::DirectoryWatch::Batch::Status;
    Status status = Status::timed_out;
    std::thread waiter([&] { status = watch.next_batch(60000).status; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    watch.wake();
    waiter.join();
    EXPECT_EQ(status, Status::woken);
    EXPECT_EQ(watch.next_batch(60000).status, Status::woken);
}

size_t entries(const char *dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(Indexer, StartStopCyclesLeaveNoDescriptorOrThread) {
    TempDir dir;
    Reports reports;
    Indexer indexer(dir.str(), reports.callback(), 0);
    CapturedOutput quiet;
    indexer.start();  // a sanitizer may start a helper thread of its own with the first
    indexer.stop();
    const size_t fds = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        indexer.start();
        indexer.stop();
    }
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    EXPECT_EQ(entries("/proc/self/task"), threads);
}

} // namespace
