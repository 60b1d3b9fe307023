#include "engine/engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "common/log.h"
#include "engine/text_decoding.h"
#include "platform/filesystem.h"

namespace fs = std::filesystem;

namespace {

enum class ReadOutcome { text, empty, failed };

// One open-measure-read pass. On failure *error_number holds the errno of the
// failing call (0 for a short read that set none).
ReadOutcome read_whole_file(const fs::path &file, std::vector<char> &bytes, int *error_number) {
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (in) {
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (in && size == 0) return ReadOutcome::empty;
        if (in && size > 0) {
            bytes.resize(static_cast<size_t>(size));
            in.read(bytes.data(), static_cast<std::streamsize>(size));
            if (in) return ReadOutcome::text;
            std::vector<char>().swap(bytes);  // not held through the wait before a retry
        }
    }
    *error_number = errno;
    return ReadOutcome::failed;
}

} // namespace

// Waits out a file that exists but cannot be read yet, at most
// read_retry.max_attempts attempts; paths that can never be read (directory,
// FIFO, device, no permission) fail at once so no open can block.
std::optional<std::string> Engine::read_file_text(const std::string &path) {
    const fs::path file = platform::path_from_host(path);
    const int max_attempts = std::max(1, read_retry.max_attempts);
    for (int attempt = 1;; ++attempt) {
        const bool exists = platform::path_exists(file);
        // A deletion between the existence test and the probe is the same
        // missing file, seen a moment later.
        const platform::FileAccess access =
            exists ? platform::probe_readable_file(file) : platform::FileAccess::missing;
        if (access == platform::FileAccess::missing) {
            log_stderr("[Engine] File does not exist: " + path + "\n");
            return std::string();
        }
        if (access == platform::FileAccess::never_readable) {
            log_stderr("[Engine] File is not a readable regular file: " + path + "\n");
            return std::nullopt;
        }

        std::vector<char> bytes;
        int error_number = 0;
        switch (read_whole_file(file, bytes, &error_number)) {
        case ReadOutcome::text:
            return decode_text(bytes, path);
        case ReadOutcome::empty:
            log_stderr("[Engine] File is empty (0 bytes): " + path + "\n");
            return std::string();
        case ReadOutcome::failed:
            break;
        }
        // Only a lock or a rewrite in progress can pass; waiting on anything
        // else would hold the host for a minute and fail anyway.
        if (attempt >= max_attempts || !platform::is_transient_read_error(error_number)) {
            log_stderr("[Engine] Giving up on unreadable file: " + path + " (Error: " +
                       std::strerror(error_number) + ")\n");
            return std::nullopt;
        }
        log_stderr("[Engine] File locked or unreadable: " + path + ". Retrying in 3s... (Error: " +
                   std::strerror(error_number) + ")\n");
        std::this_thread::sleep_for(read_retry.delay);
    }
}

// Only a byte-order mark selects UTF-16; the path is used for the log line.
std::string Engine::decode_text(const std::vector<char> &bytes, const std::string &path) {
    const size_t n = bytes.size();
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (n >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        log_stdout("[Engine] Detected UTF-16 LE file: " + path + "\n");
        return utf16_to_utf8(bytes.data() + 2, n - 2, false);
    }
    if (n >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        log_stdout("[Engine] Detected UTF-16 BE file: " + path + "\n");
        return utf16_to_utf8(bytes.data() + 2, n - 2, true);
    }
    const size_t skip = (n >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) ? 3 : 0;
    return ensure_utf8(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end()));
}
