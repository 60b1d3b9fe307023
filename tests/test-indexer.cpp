// The directory watcher: which files it reports (by extension alone), what it
// reports on real directory trees, debounce, and its start/stop lifecycle.

#include <mutex>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "indexer/indexer.h"
#include "indexer/supported_file.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(SupportedFile, ExtensionOfTheLastElement) {
    for (const char *yes : {"a.txt", "a.md", "a.rst", "a.csv", "a.log", "a.pdf", "a.docx", "a.html", "a.htm",
                            "C:\\d\\b.Md", "notes.bak.txt", "C:b.txt", "d.old/a.txt", "d\\e/f.pdf"})
        EXPECT_TRUE(is_supported_file(yes)) << yes;
    for (const char *no : {"", "a", "a.text", "a.doc", "a.htmlx", "a.tx", "a.txt.bak", ".txt", "/d/.md", "a.txt.",
                           "..", "d.txt/", "d.txt\\x", "\\\\srv.txt", "a.t\xC3\xA9xt", "a.txt "})
        EXPECT_FALSE(is_supported_file(no)) << no;
    // Only Windows reads a colon as the start of a stream name.
    EXPECT_EQ(is_supported_file("a.txt:s.bak"), platform::path_separator() == '\\');
    EXPECT_NE(is_supported_file("reuniao 10:30.txt"), platform::path_separator() == '\\');
}

// The callback's paths; it throws for throw_for, and waits at hold_at while the test holds gate.
// The gone callback's paths are kept apart.
struct Reports {
    std::mutex mutex, gate;
    std::vector<std::string> paths, gone;
    std::string throw_for, hold_at;

    Indexer::ChangeCallback callback() {
        return [this](const std::string &path) {
            std::unique_lock<std::mutex> lock(mutex);
            paths.push_back(path);
            lock.unlock();
            if (path == hold_at) gate.lock(), gate.unlock();
            if (path == throw_for) throw std::runtime_error("boom");
        };
    }
    Indexer::ChangeCallback gone_callback() {
        return [this](const std::string &path) {
            std::lock_guard<std::mutex> lock(mutex);
            gone.push_back(path);
        };
    }
    size_t count(const std::string &path) { return occurrences(paths, path); }
    size_t count_gone(const std::string &path) { return occurrences(gone, path); }
    size_t occurrences(const std::vector<std::string> &of, const std::string &path) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count(of.begin(), of.end(), path));
    }
    // Writes path until it is reported once more: from then on changes are seen.
    void touch_until_watching(const std::string &path) {
        const size_t before = count(path);
        ASSERT_TRUE(eventually([&] { return write_file(path, "x"), count(path) > before; }));
    }
};

TEST(Indexer, ReportsSupportedFilesCreatedWrittenOrMovedInOncePerDebounceDespiteAThrowingCallback) {
    TempDir dir, outside;
    const std::string d = dir.str();
    const auto put = [](const fs::path &p) { write_file(p, "x"); };
    for (const fs::path &at : {dir.path() / "old", outside.path() / "in"}) fs::create_directories(at);
    for (const char *f : {"gone.txt", "draft.tmp", "mode.txt", "stamp.txt"}) put(dir.path() / f);
    for (const char *f : {"mode.txt", "stamp.txt"})
        fs::last_write_time(dir.path() / f, fs::last_write_time(dir.path() / f) - std::chrono::hours(1));
    put(outside.path() / "in" / "z.txt");
    Reports reports;
    reports.throw_for = d + native("/ready.txt");
    CapturedOutput out;
    Indexer indexer(d, reports.callback(), 60000);
    indexer.start();
    reports.touch_until_watching(reports.throw_for);

    put(dir.path() / "a.txt");
    put(dir.path() / "a.txt");
    put(dir.path() / "notes.bin");
    fs::remove(dir.path() / "gone.txt");
    fs::rename(dir.path() / "draft.tmp", dir.path() / "draft.md");
    fs::create_directories(dir.path() / "sub" / "deeper");
    put(dir.path() / "sub" / "deeper" / "n.txt");
#ifndef _WIN32  // Windows is asked for file names only: directories moved in or out are not seen
    put(dir.path() / "old" / "x.log");
    fs::rename(dir.path() / "old", outside.path() / "old");
    put(outside.path() / "old" / "y.txt");  // no longer in the tree
    fs::rename(outside.path() / "in", dir.path() / "moved");  // its files come with it
    fs::permissions(dir.path() / "mode.txt", fs::perms::owner_exec, fs::perm_options::add);  // no new time
    fs::last_write_time(dir.path() / "stamp.txt", fs::file_time_type::clock::now());  // Wine misses it
#endif
    put(dir.path() / "zz.txt");
    ASSERT_TRUE(eventually([&] { return reports.count(d + native("/zz.txt")) == 1; }));
    indexer.stop();
    indexer.stop();
    std::vector<std::string> expected = {"/ready.txt", "/a.txt", "/draft.md", "/sub/deeper/n.txt"};
#ifndef _WIN32
    expected.insert(expected.end(), {"/old/x.log", "/moved/z.txt", "/stamp.txt"});
#endif
    expected.push_back("/zz.txt");
    for (std::string &path : expected) path = d + native(path);
    EXPECT_EQ(reports.paths, expected);
    EXPECT_EQ(out.err(), "[Indexer] Change callback failed for " + reports.throw_for + ": boom\n");
}

TEST(Indexer, MissingDirectoryEndsTheWatcherUntilTheNextStartWhichReportsAgainAfterTheDebounce) {
    TempDir dir;
    const std::string missing = dir.str("missing");
    Reports reports;
    CapturedOutput out;
    {
        Indexer indexer(missing, reports.callback(), 300);
        indexer.start();
        ASSERT_TRUE(eventually([&] { return !indexer.is_running(); }));
        fs::create_directories(missing);
        indexer.start();
        for (int report = 0; report < 2; ++report) reports.touch_until_watching(missing + native("/a.txt"));
    }  // destroyed while watching
    EXPECT_EQ(out.err(), "[Indexer] Failed to open directory: " + missing + " (error 2)\n");
    EXPECT_HAS(out.out(), "[Indexer] Watcher thread started (IDLE priority)\n"
                          "[Indexer] Watcher thread stopped\n"
                          "[Indexer] Watcher thread started (IDLE priority)\n");
}

#ifndef _WIN32
// Holds the watcher at reports.hold_at while its event queue overflows, from
// is moved to to and dir's gone.txt is deleted: the watches must then be set up
// anew for the tree as it is, and names below it may have gone unseen.
void lose_events(Reports &reports, const fs::path &dir, const fs::path &from, const fs::path &to) {
    std::lock_guard<std::mutex> hold(reports.gate);
    reports.touch_until_watching(reports.hold_at);
    size_t queue = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queue;
    write_file(dir / "a.tmp", "x");
    for (size_t i = 0; i <= queue; ++i)  // two events each
        fs::rename(dir / (i % 2 ? "b.tmp" : "a.tmp"), dir / (i % 2 ? "a.tmp" : "b.tmp"));
    fs::rename(from, to);
    fs::remove(dir / "gone.txt");
}

// Watching a tree here means walking it first; a stop must cut that walk short.
TEST(Indexer, StopDoesNotWaitForTheWalkOfALargeTree) {
    TempDir dir;
    for (int i = 0; i < 10000; ++i) fs::create_directories(dir.path() / std::to_string(i % 100) / std::to_string(i));
    Reports reports;
    CapturedOutput quiet;
    Indexer indexer(dir.str(), reports.callback(), 0);
    const auto begin = std::chrono::steady_clock::now();
    indexer.start();
    indexer.stop();
    const auto cut = std::chrono::steady_clock::now() - begin;
    indexer.start();
    reports.touch_until_watching(dir.str("ready.txt"));
    indexer.stop();
    EXPECT_LT(cut.count() * 2, (std::chrono::steady_clock::now() - begin - cut).count());
}

// The watches cover the tree as it is: walked with one directory open at a time,
// the first directory that cannot be listed named, and set up anew after lost
// events, so that a directory moved out meanwhile is no longer reported; the
// directory itself is then passed on as gone, since a file deleted meanwhile
// was not seen to go.
// Watching that failed starts again: a start with no descriptor for its
// wake-up, and watches that cannot be set up anew because the tree moved away.
TEST(Indexer, WatchesTheTreeAsItIsAndStartsAgainAfterFailing) {
    TempDir dir, outside;
    const fs::path deep = dir.path() / "a" / "b" / "c";
    for (const fs::path &at : {deep, dir.path() / "old"}) fs::create_directories(at);
    for (const fs::path &at : {deep, dir.path()}) write_file(at / "r.tmp", "x");
    Reports reports;
    reports.hold_at = dir.str("hold.txt");
    CapturedOutput out;
    Indexer indexer(dir.str(), reports.callback(), 0, reports.gone_callback());
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    // The two lowest free descriptors go to the wake-up and the inotify instance.
    const int first = dup(1), second = dup(1);
    close(first), close(second);
#ifndef __SANITIZE_ADDRESS__  // UBSan, built in with it, needs descriptors to check the error's type
    const rlimit none{static_cast<rlim_t>(first), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none);
    EXPECT_THROW(indexer.start(), std::system_error);  // and the start below must not take it as running
#endif
    for (const int spare : {1, 0}) {
        const rlimit tight{static_cast<rlim_t>(second + 1 + spare), saved.rlim_max};
        setrlimit(RLIMIT_NOFILE, &tight);
        indexer.start();
        // Renames take no descriptor; one reported shows its directory watched.
        const fs::path at = spare ? deep : dir.path();
        fs::path from = at / "r.tmp", to = at / "r.txt";
        EXPECT_TRUE(eventually(
            [&] { return fs::rename(from, to), std::swap(from, to), reports.count((at / "r.txt").string()) > 0; }));
        setrlimit(RLIMIT_NOFILE, &saved);
        indexer.stop();
    }
    indexer.start();
    reports.touch_until_watching(dir.str("gone.txt"));
    const size_t checks = reports.count_gone(dir.str());
    lose_events(reports, dir.path(), dir.path() / "old", outside.path() / "old");
    reports.touch_until_watching((deep / "k.txt").string());
    EXPECT_EQ(reports.count_gone(dir.str("gone.txt")), 0u);  // its deletion was lost
    EXPECT_EQ(reports.count_gone(dir.str()), checks + 1);
    write_file(outside.path() / "old" / "y.txt", "x");
    reports.touch_until_watching(dir.str("zz.txt"));
    EXPECT_EQ(reports.count(dir.str("old/y.txt")), 0u);
    lose_events(reports, dir.path(), dir.path(), outside.path() / "away");
    EXPECT_TRUE(eventually([&] { return !indexer.is_running(); }));
    fs::rename(outside.path() / "away", dir.path());
    indexer.start();
    reports.touch_until_watching(dir.str("again.txt"));
    indexer.stop();
    EXPECT_EQ(out.err(), "[Indexer] Not watching below " + dir.str() + ", which cannot be listed: Too many open files\n"
                         "[Indexer] Cannot watch " + dir.str() +
                             " again after lost events: No such file or directory\n");
}
#endif

#ifdef _WIN32
size_t open_descriptors() {
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    return handles;
}
size_t threads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}
#else
size_t entries(const char *dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}
size_t open_descriptors() { return entries("/proc/self/fd"); }
size_t threads() { return entries("/proc/self/task"); }
#endif

// Without the wake-up each stop would wait out a one-second slice: the cycles
// would overrun the test's time limit.
TEST(Indexer, StartStopCyclesLeaveNoDescriptorOrThread) {
    TempDir dir;
    Indexer indexer(dir.str(), nullptr, 0);
    CapturedOutput quiet;
    indexer.start();  // a sanitizer may start a helper thread of its own with the first
    indexer.stop();
    const size_t fds = open_descriptors(), before = threads();
    for (int i = 0; i < 1000; ++i) {
        indexer.start();
        indexer.stop();
    }
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_EQ(threads(), before);
}

} // namespace
