// Reading document files: missing, empty and never-readable paths, the
// bounded retry loop for files that fail to open, and path errors.

#include "engine/engine.h"
#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using test_support::CapturedOutput;
using test_support::TempDir;
using test_support::write_file;
using namespace std::chrono_literals;

namespace {

class FileReadingTest : public ::testing::Test {
protected:
    FileReadingTest() : engine(make_config()) {
        engine.read_retry.delay = 0ms;
        engine.read_retry.max_attempts = 3;
    }
    EngineConfig make_config() {
        EngineConfig config;
        config.data_dir = dir.str("data");
        return config;
    }
    // A file of mode 000, which only a thread without the override cannot open.
    std::string locked_file(const std::string &name, const std::string &content) {
        const std::string path = dir.str(name);
        write_file(path, content);
        std::filesystem::permissions(path, std::filesystem::perms::none);
        return path;
    }
    TempDir dir;
    Engine engine;
};

// Root whose calling thread loses its file-permission override: access()
// still answers for root (it checks the permitted set), but open() of a
// mode-000 file fails. This is a regular file that fails to open yet may
// become readable, which no other user can produce without privileges.
class OpenDenied {
public:
    OpenDenied() {
        header.version = _LINUX_CAPABILITY_VERSION_3;
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header, saved) != 0) return;
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active = ::syscall(SYS_capset, &header, lowered) == 0;
    }
    ~OpenDenied() {
        if (active) ::syscall(SYS_capset, &header, saved);
    }
    bool active = false;

private:
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[2]{};
};

// Runs action on another thread once the (captured) standard error is no
// longer empty, i.e. after the first retry line.
class AfterFirstStderrLine {
public:
    explicit AfterFirstStderrLine(std::function<void()> action)
        : worker([this, action] {
              for (auto until = std::chrono::steady_clock::now() + 20s;
                   !stop && std::chrono::steady_clock::now() < until;
                   std::this_thread::sleep_for(100us)) {
                  struct stat st {};
                  if (::fstat(STDERR_FILENO, &st) == 0 && st.st_size > 0) return action();
              }
          }) {}
    ~AfterFirstStderrLine() {
        stop = true;
        worker.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread worker;
};

std::string retry_line(const std::string &path) {
    return "[Engine] File locked or unreadable: " + path + ". Retrying in 3s... (Error: " +
           std::strerror(EACCES) + ")\n";
}

size_t line_count(const std::string &text) { return std::count(text.begin(), text.end(), '\n'); }

} // namespace

TEST_F(FileReadingTest, PlainMissingAndEmptyFiles) {
    const std::string plain = dir.str("notes.md");
    write_file(plain, "linha um\r\n\tcafé\n");
    const std::string missing = dir.str() + "//nowhere.txt";  // logged exactly as given
    const std::string empty = dir.str("empty.txt");
    write_file(empty, "");
    const std::string dangling = dir.str("dangling.txt");
    std::filesystem::create_symlink(dir.path() / "gone.txt", dangling);

    CapturedOutput output;
    EXPECT_EQ(engine.read_file_text(plain), std::optional<std::string>("linha um\r\n\tcafé\n"));
    EXPECT_EQ(engine.read_file_text(missing), std::optional<std::string>(""));
    EXPECT_EQ(engine.read_file_text(empty), std::optional<std::string>(""));
    EXPECT_EQ(engine.read_file_text(dangling), std::optional<std::string>(""));
    EXPECT_EQ(output.out(), "");
    EXPECT_EQ(output.err(), "[Engine] File does not exist: " + missing + "\n" +
                                "[Engine] File is empty (0 bytes): " + empty + "\n" +
                                "[Engine] File does not exist: " + dangling + "\n");
}

TEST_F(FileReadingTest, NeverReadablePathsFailAtOnce) {
    engine.read_retry.delay = std::chrono::hours(1);  // a retry would hang the test
    const std::string directory = dir.str("subdir");
    std::filesystem::create_directory(directory);
    const std::string fifo = dir.str("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    const std::string secret = locked_file("secret.txt", "hidden");

    CapturedOutput output;
    EXPECT_EQ(engine.read_file_text(directory), std::nullopt);
    EXPECT_EQ(engine.read_file_text(fifo), std::nullopt);  // an open would wait for a writer
    EXPECT_EQ(engine.read_file_text("/dev/null"), std::nullopt);
    std::string expected = "[Engine] File is not a readable regular file: " + directory + "\n" +
                           "[Engine] File is not a readable regular file: " + fifo + "\n" +
                           "[Engine] File is not a readable regular file: /dev/null\n";
    if (::geteuid() != 0) {  // root may read a file of mode 000
        EXPECT_EQ(engine.read_file_text(secret), std::nullopt);
        expected += "[Engine] File is not a readable regular file: " + secret + "\n";
    }
    EXPECT_EQ(output.err(), expected);
}

TEST_F(FileReadingTest, UnopenableFileIsRetriedThenGivenUp) {
    const std::string path = locked_file("locked.txt", "content");
    CapturedOutput output;
    std::optional<std::string> text, single;
    {
        OpenDenied denied;
        if (!denied.active) GTEST_SKIP() << "needs root: only a root thread can be denied an open "
                                            "that access() allows";
        text = engine.read_file_text(path);
        engine.read_retry.max_attempts = 0;  // still one attempt
        single = engine.read_file_text(path);
    }
    EXPECT_EQ(text, std::nullopt);
    EXPECT_EQ(single, std::nullopt);
    const std::string give_up = "[Engine] Giving up on unreadable file: " + path + "\n";
    EXPECT_EQ(output.err(), retry_line(path) + retry_line(path) + give_up + give_up);
}

TEST_F(FileReadingTest, RetriedFileIsReadOnceItOpens) {
    engine.read_retry.delay = 1ms;
    engine.read_retry.max_attempts = 20000;
    const std::string path = locked_file("locked.txt", "\xEF\xBB\xBFlater");
    CapturedOutput output;
    std::optional<std::string> text;
    {
        OpenDenied denied;
        if (!denied.active) GTEST_SKIP() << "needs root (see UnopenableFileIsRetriedThenGivenUp)";
        AfterFirstStderrLine unlock([&] { ::chmod(path.c_str(), 0644); });
        text = engine.read_file_text(path);
    }
    EXPECT_EQ(text, std::optional<std::string>("later"));
    const std::string err = output.err();
    ASSERT_GE(line_count(err), 1u);
    EXPECT_EQ(err.find(retry_line(path)), 0u);
    std::string only_retries;
    for (size_t k = 0; k < line_count(err); ++k) only_retries += retry_line(path);
    EXPECT_EQ(err, only_retries);
}

TEST_F(FileReadingTest, FileDeletedWhileWaitingGivesEmptyText) {
    engine.read_retry.delay = 1ms;
    engine.read_retry.max_attempts = 20000;
    const std::string path = locked_file("vanishing.txt", "soon gone");
    CapturedOutput output;
    std::optional<std::string> text;
    {
        OpenDenied denied;
        if (!denied.active) GTEST_SKIP() << "needs root (see UnopenableFileIsRetriedThenGivenUp)";
        AfterFirstStderrLine remove([&] { ::unlink(path.c_str()); });
        text = engine.read_file_text(path);
    }
    EXPECT_EQ(text, std::optional<std::string>(""));
    const std::string err = output.err();
    const std::string missing_line = "[Engine] File does not exist: " + path + "\n";
    EXPECT_EQ(err.find(retry_line(path)), 0u);
    ASSERT_GE(err.size(), missing_line.size());
    EXPECT_EQ(err.substr(err.size() - missing_line.size()), missing_line);
}

TEST_F(FileReadingTest, PathErrorsPropagate) {
    EXPECT_THROW(engine.read_file_text(dir.str("bad\xFFname.txt")), std::system_error);
    try {
        engine.read_file_text(dir.str(std::string(300, 'x')));  // fails the status query itself
        FAIL() << "expected a file-system error";
    } catch (const std::filesystem::filesystem_error &e) {
        EXPECT_NE(std::string(e.what()).find("exists"), std::string::npos) << e.what();
        EXPECT_EQ(e.code(), std::errc::filename_too_long);
    }
}
