#include "store/vector_store.h"

#include <hnswlib/hnswlib.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "common/log.h"
#include "platform/filesystem.h"
#include "store/index_check.h"
#include "store/sqlite_statement.h"

namespace fs = std::filesystem;

namespace {

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS chunks (  label INTEGER PRIMARY KEY,  chunk_id INTEGER,  "
    "page_number INTEGER,  file_path TEXT,  chunk_text TEXT);CREATE TABLE IF NOT EXISTS "
    "indexed_files (  path TEXT PRIMARY KEY,  last_modified INTEGER);CREATE INDEX IF NOT EXISTS "
    "idx_chunks_path ON chunks(file_path);CREATE VIRTUAL TABLE IF NOT EXISTS chunks_fts USING "
    "fts5(  chunk_text,  content='chunks',  content_rowid='label',  tokenize='unicode61 "
    "remove_diacritics 1');PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;";

constexpr int64_t kSaveInterval = 5'000'000'000; // ns between unforced saves

int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A leftover temporary file (or a link someone put there) is ours to replace;
// a directory is not.
bool removable(const fs::path &p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    return !ec && fs::exists(st) && !fs::is_directory(st);
}

} // namespace

VectorStore::VectorStore(std::string index_path_, std::string db_path_, int32_t dim_,
                         size_t max_elements_, int32_t M_, int32_t ef_construction_, int32_t ef_)
    : index_path(std::move(index_path_)), db_path(std::move(db_path_)), dim(dim_),
      max_elements(max_elements_), M(M_), ef_construction(ef_construction_), ef(ef_),
      last_save_ns(steady_now_ns()) {}

// No save here: the engine decides at shutdown whether one is due.
VectorStore::~VectorStore() {
    if (db) sqlite3_close(db);
    index.reset();
    space.reset();
}

/*
** Opens both stores. Safe to call again after a failure; a second call on an
** initialised store does nothing, since the index and connection are in use.
*/
bool VectorStore::init() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (initialized) return true;
    try {
        if (dim <= 0) throw std::invalid_argument("embedding dimension must be positive");
        // The index keeps a pointer into the space, so it goes first.
        index.reset();
        space = std::make_unique<hnswlib::InnerProductSpace>(static_cast<size_t>(dim));
        load_or_create_index();
        index->setEf(static_cast<size_t>(static_cast<int64_t>(ef)));
        if (!open_database()) return false;
        read_next_label();
        initialized = true;
        dirty = false;
        return true;
    } catch (const std::exception &e) {
        log_stderr(std::string("[VectorStore] init() failed: ") + e.what() + "\n");
        return false;
    }
}

/*
** Loads index_path, or creates an empty index when the file is missing, empty
** or unreadable; a bad file is deleted so the next save starts clean. Throws
** only file-system errors on the index path and failures to create an index.
*/
void VectorStore::load_or_create_index() {
    const fs::path path = platform::path_from_host(index_path);
    if (!platform::path_exists(path)) {
        create_index();
        return;
    }
    if (platform::file_size(path) == 0) {
        log_stderr("[VectorStore] Index file is 0 bytes, creating new index.\n");
        platform::remove_file(path);
        create_index();
        return;
    }
    try {
        check_index_file(path, dim, max_elements);
        index = std::make_unique<Index>(space.get(), path, false, max_elements, true);
        if (index->max_elements_ == 0) {
            log_stderr("[VectorStore] Loaded index has max_elements=0. Recreating.\n");
            throw std::runtime_error("Corrupted index (max_elements=0)");
        }
        check_index_graph(*index);
        return;
    } catch (const std::exception &e) {
        log_stderr(std::string("[VectorStore] Failed to load index, recreating: ") + e.what() +
                   "\n");
    }
    index.reset();
    platform::remove_file(path);
    create_index();
}

// A fresh index never replaces deleted points, so a label keeps naming one chunk.
void VectorStore::create_index() {
    index.reset();
    index = std::make_unique<Index>(space.get(), max_elements, static_cast<size_t>(M),
                                    static_cast<size_t>(ef_construction), 100, false);
}

/*
** Opens the connection and applies the schema.
** False, with its log line, when the database cannot be opened or migrated.
*/
bool VectorStore::open_database() {
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
    if (sqlite3_open(db_path.c_str(), &db) != SQLITE_OK) {
        log_stderr(std::string("[VectorStore] SQLite open failed: ") + sqlite3_errmsg(db) + "\n");
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    char *error = nullptr;
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, &error) != SQLITE_OK) {
        log_stderr(std::string("[VectorStore] Schema creation failed: ") +
                   (error ? error : sqlite3_errmsg(db)) + "\n");
        sqlite3_free(error);
        return false;
    }
    // No full-text resynchronisation: each add and removal writes the row and
    // its entry in one transaction, so the two cannot part; and a scan of an
    // external-content table reads the content table, so the usual repair
    // statements would find nothing while costing a pass over every row.
    return true;
}

/*
** Sets next_label past the largest stored label (0 for an empty table).
** Throws when the largest label cannot be read: guessing would hand out
** labels that rows already own.
*/
void VectorStore::read_next_label() {
    SqliteStatement max_label(db, "SELECT MAX(label) FROM chunks");
    if (!max_label.ok() || max_label.step() != SQLITE_ROW)
        throw std::runtime_error(std::string("cannot read the largest label: ") +
                                 sqlite3_errmsg(db));
    if (max_label.column_is_null(0)) {
        next_label = 0;
        return;
    }
    const int64_t largest = max_label.column_int64(0);
    // INT32_MAX itself is never handed out (see add), so it marks exhaustion.
    if (largest >= INT32_MAX)
        next_label = INT32_MAX;
    else
        next_label = static_cast<int32_t>(largest) + 1;
}

/*
** Writes the index to a temporary file beside index_path and renames it over
** the old file, so a crash or a full disk never leaves a half-written index.
** False, with a log line, when any step fails; the old file is then intact.
*/
bool VectorStore::write_index_file() {
    const std::string temp_name = index_path + ".tmp";
    fs::path target, temp;
    std::error_code ec;
    std::string reason;
    try {
        target = platform::path_from_host(index_path);
        temp = platform::path_from_host(temp_name);
        // A stale temporary file of the right size would hide a failed open.
        if (removable(temp)) fs::remove(temp, ec);

        // hnswlib reports no stream errors, so the written size is the check.
        index->saveIndex(temp);
        const size_t expected = index->indexFileSize();
        const uintmax_t written = fs::file_size(temp, ec);
        if (ec)
            reason = "cannot write " + temp_name + ": " + ec.message();
        else if (written != expected)
            reason = "wrote " + std::to_string(written) + " of " + std::to_string(expected) +
                     " bytes to " + temp_name;
        else if (!platform::sync_file(temp))
            reason = "cannot sync " + temp_name;
        else if (!platform::replace_file(temp, target, &reason))
            reason = "cannot replace " + index_path + ": " + reason;
        else
            return true;
    } catch (const std::exception &e) {
        reason = e.what();
    }
    log_stderr("[VectorStore] Failed to save index: " + reason + "\n");
    if (!temp.empty() && removable(temp)) fs::remove(temp, ec);
    return false;
}

/*
** Writes the index file unless force is false and the last successful save
** was less than 5 s ago. Never throws; a failure is logged and the next call
** tries again.
*/
void VectorStore::save_index(bool force) {
    if (!initialized) return;
    const int64_t now = steady_now_ns();
    if (!force && now - last_save_ns.load() < kSaveInterval) return;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    try {
        if (write_index_file()) {
            last_save_ns = now;
            dirty = false;
        }
    } catch (...) {
        // Out of memory while naming or reporting: the old file stays as it was.
    }
}

bool VectorStore::has_unsaved_changes() const { return dirty.load(); }

size_t VectorStore::element_count() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return index ? index->cur_element_count.load() : 0;
}

int32_t VectorStore::peek_next_label() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return next_label;
}
