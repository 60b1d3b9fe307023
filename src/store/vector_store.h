#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "store/chunk.h"
#include "store/chunk_hit.h"

struct sqlite3;
namespace hnswlib {
class InnerProductSpace;
template <typename dist_t> class HierarchicalNSW;
}

// The persistent chunk store: SQLite rows (chunks, indexed_files, the FTS5
// table chunks_fts) and an HNSW index of their embeddings, kept label by label
// in step. Every operation is serialised by one recursive mutex and does
// nothing (or returns its empty result) until init() has succeeded.
class VectorStore {
public:
    // Stores the settings only; touches no file.
    VectorStore(std::string index_path, std::string db_path, int32_t dim, size_t max_elements,
                int32_t M, int32_t ef_construction, int32_t ef);
    // Closes the database without saving the index.
    ~VectorStore();
    VectorStore(const VectorStore &) = delete;
    VectorStore &operator=(const VectorStore &) = delete;

    // ---- lifecycle (vector_store_lifecycle.cpp) ----

    // Loads the index file (recreating it when missing, empty or corrupt),
    // opens the database, applies the schema and sets the next label. False
    // (with a "[VectorStore] " line on stderr) when either store cannot be opened.
    bool init();

    // Writes the index file atomically (temporary file, sync, rename). Unforced
    // saves are skipped when the last one was less than 5 s ago. A failed write
    // is logged and leaves the previous file and the throttle untouched.
    void save_index(bool force);

    // True when points were added or deleted since the last successful save.
    bool has_unsaved_changes() const;

    // ---- chunks and files (vector_store_chunks.cpp) ----

    // Adds the chunk's point, row and full-text entry under a fresh label.
    // Returns the label, or -1 when nothing usable was stored.
    int32_t add(const std::vector<float> &embedding, const Chunk &chunk);

    // True when path is recorded with a modification time within 2 s of mtime.
    bool is_file_indexed(const std::string &path, int64_t mtime);
    // The modification time recorded for path; nullopt when there is none.
    std::optional<int64_t> indexed_time(const std::string &path);

    // Records (or replaces) the modification time of path.
    void mark_file_indexed(const std::string &path, int64_t mtime);

    // Deletes the document's rows, full-text entries and bookkeeping row in one
    // transaction, then marks its points deleted and, when it marked any,
    // forces an index save.
    // False (logged, nothing changed) when the transaction fails.
    bool remove_document(const std::string &path);

    // ---- repair after a crash (vector_store_repair.cpp) ----

    // Rows are committed at once, points only at the next index save, so a
    // killed process leaves the two out of step. Marks deleted every live
    // point without a row (a removal whose save was lost) and returns the
    // labels of the rows without a live point (adds whose save was lost),
    // with room made in the index for all of them. One pass over the labels
    // when nothing is out of step.
    std::vector<int32_t> reconcile_points();
    // The stored text of the chunk under label, "" when there is none.
    std::string chunk_text(int32_t label);
    // Gives the row under label its point again (reviving a deleted one).
    // False (logged) when hnswlib refuses it.
    bool restore_point(int32_t label, const std::vector<float> &embedding);

    // ---- search (vector_store_search.cpp) ----

    // Hybrid nearest-neighbour plus full-text search; best first, at most
    // top_k hits. Never throws.
    std::vector<ChunkHit> search(const std::vector<float> &query, int32_t top_k,
                                 const std::string &question);

    // ---- reading back (vector_store_read.cpp) ----

    // The document's chunks by ascending chunk_id; file_path as passed.
    std::vector<Chunk> get_file_chunks(const std::string &path);
    // The document's chunk texts joined with "\n".
    std::string get_document_text(const std::string &path);
    // Every path of indexed_files, in stored form.
    std::vector<std::string> get_indexed_files();

    // ---- observers ----
    bool is_initialized() const { return initialized.load(); }
    // Points in the index, deleted ones included.
    size_t element_count() const;
    int32_t peek_next_label();

private:
    using Index = hnswlib::HierarchicalNSW<float>;

    void load_or_create_index();
    void create_index();
    bool open_database();
    void read_next_label();
    bool write_index_file();
    std::vector<int32_t> reconcile_points_locked();

    std::string index_path;
    std::string db_path;
    int32_t dim;
    size_t max_elements;
    int32_t M;
    int32_t ef_construction;
    int32_t ef;
    std::atomic<bool> initialized{false};
    int32_t next_label = 0;
    mutable std::recursive_mutex mutex;
    sqlite3 *db = nullptr;
    std::unique_ptr<hnswlib::InnerProductSpace> space;
    std::unique_ptr<Index> index;
    // steady_clock nanoseconds; atomic so the unlocked throttle test is safe
    std::atomic<int64_t> last_save_ns;
    std::atomic<bool> dirty{false};
};

// The key under which the store files a document (see platform/paths.h).
using platform::normalize_path;
