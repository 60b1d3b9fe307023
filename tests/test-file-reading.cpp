// Reading document files: missing, empty and never-readable paths, read
// errors that no wait can mend, and path errors.

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/engine.h"
#include "test_support.h"

namespace {

using namespace test_support;
using namespace std::chrono_literals;

class FileReading : public ::testing::Test {
protected:
    FileReading() {
        engine.read_retry.delay = 0ms;
        engine.read_retry.max_attempts = 3;
    }
    TempDir dir;
    Engine engine{engine_config(dir)};
};

// Root whose calling thread loses its file-permission override: access()
// still answers for root, but open() of a mode-000 file fails. No other user
// can produce a regular file that passes the probe yet fails to open.
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

TEST_F(FileReading, MissingAndEmptyFiles) {
    const std::string empty = dir.str("empty.txt");
    write_file(empty, "");
    const std::string missing = dir.str() + "//nowhere.txt";  // logged exactly as given
    CapturedOutput output;
    EXPECT_EQ(engine.read_file_text(missing), std::optional<std::string>(""));
    EXPECT_EQ(engine.read_file_text(empty), std::optional<std::string>(""));
    EXPECT_EQ(output.out(), "");
    EXPECT_EQ(output.err(), "[Engine] File does not exist: " + missing + "\n" +
                                "[Engine] File is empty (0 bytes): " + empty + "\n");
}

TEST_F(FileReading, NeverReadablePathsFailAtOnce) {
    engine.read_retry.delay = 1h;  // a retry would hang the test
    const std::string directory = dir.str("subdir"), fifo = dir.str("pipe");
    std::filesystem::create_directory(directory);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    CapturedOutput output;
    EXPECT_EQ(engine.read_file_text(directory), std::nullopt);
    EXPECT_EQ(engine.read_file_text(fifo), std::nullopt);  // an open would wait for a writer
    EXPECT_EQ(output.err(), "[Engine] File is not a readable regular file: " + directory + "\n" +
                                "[Engine] File is not a readable regular file: " + fifo + "\n");
}

TEST_F(FileReading, PermanentReadErrorsAreNotWaitedOn) {
    engine.read_retry.delay = 1h;  // a retry would hang the test
    const std::string path = dir.str("denied.txt");
    write_file(path, "content");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    CapturedOutput output;
    // A kernel file: regular, but its size cannot be measured by seeking.
    EXPECT_EQ(engine.read_file_text("/proc/self/status"), std::nullopt);
    std::optional<std::string> denied_text;
    {
        OpenDenied denied;
        if (!denied.active) GTEST_SKIP() << "needs root: only a root thread can be denied an open "
                                            "that access() allows";
        denied_text = engine.read_file_text(path);
    }
    EXPECT_EQ(denied_text, std::nullopt);
    EXPECT_EQ(output.err().find("Retrying"), std::string::npos) << output.err();
    EXPECT_NE(output.err().find("[Engine] Giving up on unreadable file: /proc/self/status (Error: "),
              std::string::npos);
    EXPECT_NE(output.err().find("[Engine] Giving up on unreadable file: " + path + " (Error: " +
                                std::strerror(EACCES) + ")\n"),
              std::string::npos);
}

TEST_F(FileReading, PathErrorsPropagate) {
    EXPECT_THROW(engine.read_file_text(dir.str("bad\xFFname.txt")), std::system_error);
    // The status query itself fails: not the same as a missing file.
    EXPECT_THROW(engine.read_file_text(dir.str(std::string(300, 'x'))), std::filesystem::filesystem_error);
}

} // namespace
