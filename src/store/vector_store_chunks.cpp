#include "store/vector_store.h"

#include <hnswlib/hnswlib.h>
#include <sqlite3.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "common/log.h"
#include "store/modification_time.h"
#include "store/sqlite_statement.h"

namespace {

// Refusals that only mean "this label is taken": after a restart next_label
// may start on labels the loaded index still holds as deleted points.
bool label_taken(const std::exception &e) {
    const std::string what = e.what();
    return what.find("deleted elements") != std::string::npos ||
           what.find("already exists") != std::string::npos;
}

// add never runs inside another transaction, so an open one is its own.
void end_open_transaction(sqlite3 *db) {
    if (!sqlite3_get_autocommit(db)) sqlite_exec(db, "ROLLBACK");
}

} // namespace

/*
** Stores one chunk: its point in the index, then its row and full-text entry
** in one transaction. Returns the label, or -1 when the row could not be
** stored (a point already added stays, unreachable, under its label).
*/
int32_t VectorStore::add(const std::vector<float> &embedding, const Chunk &chunk) {
    if (!initialized) return -1;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    try {
        if (embedding.size() != static_cast<size_t>(dim))
            throw std::invalid_argument("embedding has " + std::to_string(embedding.size()) +
                                        " values, expected " + std::to_string(dim));
        if (index->cur_element_count >= index->max_elements_) {
            // Doubling keeps reallocations logarithmic; a zero capacity still grows.
            const size_t grown = index->max_elements_ ? index->max_elements_ * 2 : 1;
            index->resizeIndex(grown);
        }

        int32_t label;
        for (;;) {
            // INT32_MAX is never handed out, so next_label cannot overflow.
            if (next_label == INT32_MAX) throw std::overflow_error("no labels left");
            label = next_label++;
            try {
                index->addPoint(embedding.data(), static_cast<hnswlib::labeltype>(label), false);
                break;
            } catch (const std::exception &e) {
                if (!label_taken(e)) throw;
            }
        }
        dirty = true;

        SqliteStatement row(db, "INSERT INTO chunks (label, chunk_id, page_number, file_path, "
                                "chunk_text) VALUES (?, ?, ?, ?, ?)");
        if (!row.ok()) return -1;
        // Row and full-text entry go in together: an external-content table
        // cannot be repaired later from a row whose entry is missing.
        if (!sqlite_exec(db, "BEGIN")) {
            log_stderr(std::string("[VectorStore] DB Insert failed: ") + sqlite3_errmsg(db) + "\n");
            return -1;
        }
        row.bind_int(1, label);
        row.bind_int(2, chunk.chunk_id);
        row.bind_int(3, chunk.page_number);
        row.bind_text(4, normalize_path(chunk.file_path));
        row.bind_text(5, chunk.text);
        bool stored = row.step() == SQLITE_DONE;
        if (stored) {
            SqliteStatement text(db, "INSERT INTO chunks_fts(rowid, chunk_text) VALUES (?, ?)");
            if (text.ok()) {
                text.bind_int64(1, label);
                text.bind_text(2, chunk.text);
                stored = text.step() == SQLITE_DONE;
            } else {
                stored = false;
            }
        }
        if (stored) stored = sqlite_exec(db, "COMMIT");
        if (!stored) {
            // Read the message before ROLLBACK replaces it.
            const std::string error = sqlite3_errmsg(db);
            sqlite_exec(db, "ROLLBACK");
            log_stderr("[VectorStore] DB Insert failed: " + error + "\n");
            return -1;
        }
        return label;
    } catch (const std::exception &e) {
        end_open_transaction(db);
        log_stderr(std::string("[VectorStore] add() exception: ") + e.what() + "\n");
        return -1;
    } catch (...) {
        end_open_transaction(db);
        return -1;
    }
}

/*
** True when path is recorded with a modification time less than 2 s from
** mtime. A recorded time further off is logged as a modification.
*/
bool VectorStore::is_file_indexed(const std::string &path, int64_t mtime) {
    const std::optional<int64_t> stored = indexed_time(path);
    if (!stored) return false;
    if (same_modification_time(mtime, *stored)) return true;
    log_stdout("[VectorStore] MODIFICATION DETECTED for " + normalize_path(path) + " (DB=" + std::to_string(*stored) +
               ", File=" + std::to_string(mtime) + ", Diff=" + std::to_string(tick_distance(mtime, *stored)) +
               ")\n");
    return false;
}

// The modification time recorded for path, if any.
std::optional<int64_t> VectorStore::indexed_time(const std::string &path) {
    if (!initialized) return std::nullopt;
    const std::string key = normalize_path(path);
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement query(db, "SELECT last_modified FROM indexed_files WHERE path = ?");
    if (!query.ok()) return std::nullopt;
    query.bind_text(1, key);
    if (query.step() != SQLITE_ROW) return std::nullopt;
    return query.column_int64(0);
}

// Records, or replaces, the modification time of path.
void VectorStore::mark_file_indexed(const std::string &path, int64_t mtime) {
    if (!initialized) return;
    const std::string key = normalize_path(path);
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement upsert(db,
                           "INSERT OR REPLACE INTO indexed_files (path, last_modified) VALUES (?, ?)");
    if (!upsert.ok()) return;
    upsert.bind_text(1, key);
    upsert.bind_int64(2, mtime);
    if (upsert.step() != SQLITE_DONE)
        log_stderr(std::string("[VectorStore] mark_file_indexed failed: ") + sqlite3_errmsg(db) +
                   "\n");
}

/*
** Removes one document: deletes its full-text entries, rows and bookkeeping
** row in one transaction, then marks its points deleted (labels are never
** reused) and saves the index at once when it marked any. A failed
** transaction is rolled back whole and logged, and no point is touched.
*/
bool VectorStore::remove_document(const std::string &path) {
    if (!initialized) return true;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    const std::string key = normalize_path(path);

    std::vector<int32_t> labels;
    {
        SqliteStatement query(db, "SELECT label FROM chunks WHERE file_path = ?");
        if (query.ok()) {
            query.bind_text(1, key);
            while (query.step() == SQLITE_ROW) labels.push_back(query.column_int(0));
        }
    }

    if (!sqlite_exec(db, "BEGIN TRANSACTION")) {
        log_stderr(std::string("[VectorStore] remove_document failed: ") + sqlite3_errmsg(db) +
                   "\n");
        return false;
    }
    // The full-text delete reads the texts from chunks, so it runs first.
    static const char *const kSteps[] = {
        "INSERT INTO chunks_fts(chunks_fts, rowid, chunk_text) SELECT 'delete', label, "
        "chunk_text FROM chunks WHERE file_path = ?",
        "DELETE FROM chunks WHERE file_path = ?",
        "DELETE FROM indexed_files WHERE path = ?",
    };
    bool ok = true;
    for (const char *sql : kSteps) {
        SqliteStatement step(db, sql);
        ok = step.ok();
        if (!ok) break;
        step.bind_text(1, key);
        ok = step.step() == SQLITE_DONE;
        if (!ok) break;
    }
    if (ok) ok = sqlite_exec(db, "COMMIT");
    if (!ok) {
        const std::string error = sqlite3_errmsg(db);
        sqlite_exec(db, "ROLLBACK");
        log_stderr("[VectorStore] remove_document failed: " + error + "\n");
        return false;
    }

    // Points go only once their rows are gone, so a failed removal leaves
    // the document whole rather than findable by text alone.
    bool marked = false;
    for (const int32_t label : labels) {
        try {
            index->markDelete(static_cast<hnswlib::labeltype>(static_cast<int64_t>(label)));
            marked = dirty = true;
        } catch (...) {
            // No point (its save was lost) or already deleted.
        }
    }
    // A new document has nothing to delete: rewriting the whole file for it
    // would make importing a folder quadratic.
    if (marked) save_index(true);
    return true;
}
