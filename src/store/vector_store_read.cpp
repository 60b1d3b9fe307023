#include "store/vector_store.h"

#include <sqlite3.h>

#include "store/sqlite_statement.h"

/*
** The document's chunks by ascending chunk_id, each carrying path exactly as
** passed. Empty when the store is not initialised or the query fails.
*/
std::vector<Chunk> VectorStore::get_file_chunks(const std::string &path) {
    std::vector<Chunk> chunks;
    if (!initialized) return chunks;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement query(db, "SELECT chunk_id, page_number, chunk_text FROM chunks WHERE "
                              "file_path = ? ORDER BY chunk_id ASC;");
    if (!query.ok()) return chunks;
    query.bind_text(1, normalize_path(path));
    while (query.step() == SQLITE_ROW) {
        Chunk chunk;
        chunk.chunk_id = query.column_int(0);
        chunk.page_number = query.column_int(1);
        chunk.file_path = path;
        chunk.text = query.column_text(2);
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

/*
** The document's chunk texts in chunk_id order joined with "\n". An empty
** text still gets its separator once something precedes it; a NULL one adds
** nothing.
*/
std::string VectorStore::get_document_text(const std::string &path) {
    std::string text;
    if (!initialized) return text;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement query(
        db, "SELECT chunk_text FROM chunks WHERE file_path = ? ORDER BY chunk_id ASC;");
    if (!query.ok()) return text;
    query.bind_text(1, normalize_path(path));
    while (query.step() == SQLITE_ROW) {
        if (query.column_is_null(0)) continue;
        if (!text.empty()) text += '\n';
        text += query.column_text(0);
    }
    return text;
}

/*
** Every recorded path, stored form, in SQLite's order. A NULL path, which the
** store never writes, names no file and is left out.
*/
std::vector<std::string> VectorStore::get_indexed_files() {
    std::vector<std::string> files;
    if (!initialized) return files;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement query(db, "SELECT path FROM indexed_files");
    if (!query.ok()) return files;
    while (query.step() == SQLITE_ROW) {
        if (query.column_is_null(0)) continue;
        files.push_back(query.column_text(0));
    }
    return files;
}
