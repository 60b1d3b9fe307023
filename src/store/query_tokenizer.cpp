#include "store/query_tokenizer.h"

namespace {

// SQLite hands out its FTS5 API only through a pointer-typed query result.
fts5_api *find_fts5(sqlite3 *db) {
    fts5_api *fts5 = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(stmt, 1, &fts5, "fts5_api_ptr", nullptr);
        sqlite3_step(stmt);
    }
    sqlite3_finalize(stmt);
    return fts5;
}

// Stops at the first token: finding one is all that is asked.
int stop_at_token(void *found, int, const char *, int, int, int) {
    *static_cast<bool *>(found) = true;
    return SQLITE_DONE;
}

} // namespace

QueryTokenizer::QueryTokenizer(sqlite3 *db) {
    fts5_api *fts5 = find_fts5(db);
    void *context = nullptr;
    if (!fts5 || fts5->xFindTokenizer(fts5, "unicode61", &context, &methods) != SQLITE_OK) return;
    const char *args[] = {"remove_diacritics", "1"};
    if (methods.xCreate(context, args, 2, &tokenizer) != SQLITE_OK) tokenizer = nullptr;
}

QueryTokenizer::~QueryTokenizer() {
    if (tokenizer) methods.xDelete(tokenizer);
}

bool QueryTokenizer::has_token(const std::string &word) {
    if (!tokenizer) return true;
    bool found = false;
    methods.xTokenize(tokenizer, &found, FTS5_TOKENIZE_QUERY, word.data(),
                   static_cast<int>(word.size()), stop_at_token);
    return found;
}
