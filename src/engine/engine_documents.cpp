#include "engine/engine.h"

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "common/log.h"
#include "engine/text_decoding.h"
#include "platform/filesystem.h"

namespace fs = std::filesystem;

namespace {

// Empties the published file name on every way out of add_document.
class CurrentFileGuard {
public:
    CurrentFileGuard(std::string *file, std::recursive_mutex *mutex) : file(file), mutex(mutex) {}
    ~CurrentFileGuard() {
        std::lock_guard<std::recursive_mutex> lock(*mutex);
        file->clear();
    }
    CurrentFileGuard(const CurrentFileGuard &) = delete;
    CurrentFileGuard &operator=(const CurrentFileGuard &) = delete;

private:
    std::string *file;
    std::recursive_mutex *mutex;
};

} // namespace

void Engine::mark_indexed(const std::string &path, const fs::path &fspath,
                          std::optional<int64_t> mtime_before) {
    // The time read before the content was read: an edit made while the
    // document was being embedded must look like a change next time.
    if (!platform::path_exists(fspath)) return;
    const int64_t mtime = mtime_before ? *mtime_before : platform::last_write_ticks(fspath);
    store->mark_file_indexed(path, mtime);
}

Engine::ChunkTally Engine::store_chunks(const std::string &path, const fs::path &fspath,
                                        std::optional<int64_t> mtime,
                                        const std::vector<std::string> &chunks, bool log_failures) {
    ChunkTally tally;
    for (const std::string &piece : chunks) {
        std::vector<float> e = embed(piece);
        if (e.empty()) {
            if (log_failures)
                log_stderr("[Engine] Embedding failed for chunk " + std::to_string(tally.handed) + "\n");
            continue;
        }
        Chunk chunk;
        chunk.chunk_id = tally.handed;
        chunk.page_number = 1;
        chunk.file_path = path;
        chunk.text = piece;
        ++tally.handed;
        if (store->add(e, chunk) >= 0) ++tally.stored;
    }
    // Recorded as indexed with nothing stored, the document would never be retried.
    if (tally.stored == 0) {
        log_stderr("[Engine] No chunk could be stored for: " + path + "\n");
        return tally;
    }
    mark_indexed(path, fspath, mtime);
    store->save_index(false);
    return tally;
}

bool Engine::add_document(const std::string &path) {
    if (!initialized) return false;
    const DocumentCall settling(*this, path);
    const fs::path fspath = platform::path_from_host(path);
    const DocumentLocks::Hold hold = document_locks.lock(normalize_path(path));

    const std::optional<int64_t> mtime = platform::last_write_ticks_if_exists(fspath);
    if (mtime && store->is_file_indexed(path, *mtime)) return true;

    log_stdout("[Engine] Indexing NEW or MODIFIED file: " + path + "\n");
    // Shown to the host, which reads UTF-8 only.
    const std::string name = replace_invalid_utf8(platform::path_to_utf8(fspath.filename()));
    {
        std::lock_guard<std::recursive_mutex> lock(progress_mutex);
        current_file = name;
    }
    CurrentFileGuard guard(&current_file, &progress_mutex);

    const std::optional<std::string> text = read_file_text(path);
    if (!text) {
        // Not marked: the next call tries again.
        log_stderr("[Engine] Empty or unreadable file: " + path + "\n");
        return false;
    }
    if (text->empty()) {
        log_stderr("[Engine] Empty or unreadable file: " + path + "\n");
        mark_indexed(path, fspath, mtime);
        return false;
    }

    const std::vector<std::string> chunks = chunk_text(*text);
    if (chunks.empty()) {
        log_stderr("[Engine] No chunks generated from: " + path + "\n");
        mark_indexed(path, fspath, mtime);
        return false;
    }

    remove_stored_document(path);
    log_stdout("[Engine] " + std::to_string(chunks.size()) + " chunks from " + path + "\n");
    return store_chunks(path, fspath, mtime, chunks, true).stored > 0;
}

bool Engine::add_text_document(const std::string &path, const std::string &text) {
    if (!initialized) return false;
    const DocumentCall settling(*this, path);
    const fs::path fspath = platform::path_from_host(path);
    const DocumentLocks::Hold hold = document_locks.lock(normalize_path(path));

    const std::optional<int64_t> mtime = platform::last_write_ticks_if_exists(fspath);
    if (mtime && store->is_file_indexed(path, *mtime)) return true;

    remove_stored_document(path);
    const std::vector<std::string> chunks = chunk_text(text);
    if (chunks.empty()) {
        mark_indexed(path, fspath, mtime);
        return true;
    }

    const ChunkTally tally = store_chunks(path, fspath, mtime, chunks, false);
    if (tally.stored == 0) return false;
    log_stdout("[Engine] Indexed " + std::to_string(tally.handed) + " pre-extracted chunks\n");
    return true;
}

void Engine::remove_document(const std::string &path) {
    if (!initialized) return;
    const DocumentCall settling(*this, path);
    const DocumentLocks::Hold hold = document_locks.lock(normalize_path(path));
    remove_stored_document(path);
}

void Engine::remove_stored_document(const std::string &path) {
    log_stdout("[Engine] Removing document: " + path + "\n");
    // Indexing on top of chunks that could not be removed would duplicate them.
    if (!store->remove_document(path))
        throw std::runtime_error("Failed to remove document: " + path);
    store->save_index(false);
}

bool Engine::is_file_indexed(const std::string &path) {
    if (!initialized) return false;
    const std::optional<int64_t> mtime = platform::last_write_ticks_if_exists(platform::path_from_host(path));
    return mtime && store->is_file_indexed(path, *mtime);
}

std::string Engine::get_document_text(const std::string &path) {
    return store ? store->get_document_text(path) : std::string();
}

std::vector<std::string> Engine::get_indexed_files() {
    return store ? store->get_indexed_files() : std::vector<std::string>();
}
