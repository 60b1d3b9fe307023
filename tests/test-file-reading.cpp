// Reading document files: read errors are waited on only when a wait can mend them.

#include <cerrno>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "test_support.h"

namespace {

using namespace test_support;
using namespace std::chrono_literals;

// Linux: root whose calling thread loses its file-permission override: access()
// still answers for root, but open() of a mode-000 file fails. No other user
// can produce a regular file that passes the probe yet fails to open.
// Windows: what a locked file is, another open that shares nothing.
struct OpenDenied {
    explicit OpenDenied(const std::string &path) {
#ifdef _WIN32
        lock = CreateFileW(fs::path(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        active = lock != INVALID_HANDLE_VALUE;
#else
        fs::permissions(path, fs::perms::none);
        header.version = _LINUX_CAPABILITY_VERSION_3;
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header, saved) != 0) return;
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active = ::syscall(SYS_capset, &header, lowered) == 0;
#endif
    }
    ~OpenDenied() {
        if (!active) return;
#ifdef _WIN32
        CloseHandle(lock);
#else
        ::syscall(SYS_capset, &header, saved);
#endif
    }
    bool active = false;
#ifdef _WIN32
    HANDLE lock;
#else
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[2]{};
#endif
};

TEST(FileReading, ReadErrorsAreWaitedOnOnlyWhenTheyMayPass) {
    TempDir dir;
    Engine engine(engine_config(dir));
    engine.read_retry = {0ms, 3};
    const std::string path = dir.str("denied.txt");
    write_file(path, "content");
    CapturedOutput output;
    std::optional<std::string> text;
    {
        OpenDenied denied(path);
        if (!denied.active) GTEST_SKIP() << "needs root on Linux: only a root thread can be denied "
                                            "an open that access() allows";
        text = engine.read_file_text(path);
    }
    EXPECT_EQ(text, std::nullopt);
    const std::string error = std::string(" (Error: ") + std::strerror(EACCES) + ")\n",
                      give_up = "[Engine] Giving up on unreadable file: " + path + error;
#ifdef _WIN32
    // Another process's lock may go: retried up to the policy's limit.
    const std::string retry = "[Engine] File locked or unreadable: " + path + ". Retrying in 3s..." + error;
    EXPECT_EQ(output.err(), retry + retry + give_up);
#else
    // A permission error will not pass, nor will a kernel file that cannot be measured.
    engine.read_retry.delay = 1h;
    EXPECT_EQ(engine.read_file_text("/proc/self/status"), std::nullopt);
    EXPECT_EQ(output.err().rfind(give_up, 0), 0u) << output.err();  // not retried
#endif
}

} // namespace
