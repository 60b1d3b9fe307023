#include "platform/directory_watch.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/filesystem.h"

namespace platform {
namespace {

// File names, sizes and last-write times; directory names, attributes,
// creation times and security are not asked for.
constexpr DWORD kNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kBufferSize = 65536;

// A record's name written as the host wrote directory, so that the two join
// into one path in one encoding; "" when it cannot be converted.
std::string host_name(const FILE_NOTIFY_INFORMATION &record, const std::string &directory) {
    try {
        const size_t units = record.FileNameLength / sizeof(WCHAR);
        return path_to_host(std::filesystem::path(std::wstring(record.FileName, units)), directory);
    } catch (...) {
        return "";
    }
}

// The kind of change a record reports; nullopt for actions that are not listed.
std::optional<DirectoryWatch::Change::Kind> kind_of(DWORD action) {
    using Kind = DirectoryWatch::Change::Kind;
    switch (action) {
    case FILE_ACTION_ADDED:
    case FILE_ACTION_MODIFIED:
    case FILE_ACTION_RENAMED_NEW_NAME:
        return Kind::written;
    case FILE_ACTION_REMOVED:
    case FILE_ACTION_RENAMED_OLD_NAME:
        return Kind::gone;
    default:
        return std::nullopt;
    }
}

} // namespace

struct DirectoryWatch::State {
    using Change = DirectoryWatch::Change;

    // wake() may come from another thread: it cancels the pending read under
    // the guard, and the handle is closed only under the same guard, so a
    // closed (or reused) handle is never cancelled.
    std::mutex guard;
    HANDLE directory = INVALID_HANDLE_VALUE;
    std::atomic<bool> woken{false};

    // Watcher thread only.
    std::string given;  // the directory as open was given it
    HANDLE read_event = nullptr;
    OVERLAPPED overlapped{};
    bool pending = false;
    DWORD open_read_error = 0;  // the first read, issued by open, failed
    alignas(DWORD) char buffer[kBufferSize];

    // Issues the next asynchronous read; 0, or GetLastError().
    DWORD issue_read() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = read_event;
        ResetEvent(read_event);
        if (!ReadDirectoryChangesW(directory, buffer, kBufferSize, TRUE, kNotifyFilter, nullptr, &overlapped,
                                   nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return error;
        }
        pending = true;
        return 0;
    }

    void walk(DWORD bytes, std::vector<Change> &changes) const {
        constexpr DWORD kHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
        for (DWORD at = 0; at + kHeader <= bytes;) {
            const auto &record = *reinterpret_cast<const FILE_NOTIFY_INFORMATION *>(buffer + at);
            if (at + kHeader + record.FileNameLength > bytes) break;
            if (const auto kind = kind_of(record.Action)) changes.push_back({*kind, host_name(record, given)});
            if (record.NextEntryOffset == 0) break;
            at += record.NextEntryOffset;
        }
    }
};

DirectoryWatch::DirectoryWatch() : state(std::make_unique<State>()) {
    state->read_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!state->read_event)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEventA");
}

DirectoryWatch::~DirectoryWatch() {
    close();
    CloseHandle(state->read_event);
}

unsigned long DirectoryWatch::open(const std::string &directory) {
    std::filesystem::path path;
    try {
        path = path_from_host(directory);
    } catch (const std::system_error &) {
        return ERROR_INVALID_NAME;
    }
    const HANDLE handle =
        CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    state->given = directory;
    {
        std::lock_guard<std::mutex> lock(state->guard);
        state->directory = handle;
    }
    // The platform collects changes only once a read is set up.
    state->open_read_error = state->issue_read();
    return 0;
}

DirectoryWatch::Batch DirectoryWatch::next_batch(int timeout_ms) {
    Batch batch;
    if (state->woken.load()) {
        batch.status = Batch::Status::woken;
        return batch;
    }
    DWORD error = state->open_read_error;
    state->open_read_error = 0;
    if (!error && !state->pending) error = state->issue_read();
    if (error) {
        batch.status = Batch::Status::failed;
        batch.error = "ReadDirectoryChangesW error: " + std::to_string(error);
        return batch;
    }
    // A wake() that came before the read was issued had nothing to cancel.
    if (state->woken.load()) {
        batch.status = Batch::Status::woken;
        return batch;
    }
    const DWORD waited = WaitForSingleObject(state->read_event, static_cast<DWORD>(timeout_ms));
    if (state->woken.load()) {
        batch.status = Batch::Status::woken;
        return batch;
    }
    if (waited == WAIT_TIMEOUT) return batch;
    if (waited != WAIT_OBJECT_0) {
        batch.status = Batch::Status::failed;
        batch.error = "WaitForSingleObject error: " + std::to_string(GetLastError());
        return batch;
    }
    DWORD bytes = 0;
    const BOOL completed = GetOverlappedResult(state->directory, &state->overlapped, &bytes, FALSE);
    state->pending = false;
    if (!completed) {
        batch.status = Batch::Status::failed;
        return batch;
    }
    batch.status = Batch::Status::changed;
    batch.lost = bytes == 0;  // the platform's own buffer overflowed
    state->walk(bytes, batch.changes);
    return batch;
}

void DirectoryWatch::wake() {
    state->woken.store(true);
    std::lock_guard<std::mutex> lock(state->guard);
    if (state->directory != INVALID_HANDLE_VALUE) CancelIoEx(state->directory, nullptr);
}

void DirectoryWatch::close() {
    std::lock_guard<std::mutex> lock(state->guard);
    if (state->directory == INVALID_HANDLE_VALUE) return;
    if (state->pending) {
        // The read writes into buffer until it completes.
        CancelIoEx(state->directory, &state->overlapped);
        DWORD bytes = 0;
        GetOverlappedResult(state->directory, &state->overlapped, &bytes, TRUE);
        state->pending = false;
    }
    CloseHandle(state->directory);
    state->directory = INVALID_HANDLE_VALUE;
}

void lower_current_thread_to_idle() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

} // namespace platform
