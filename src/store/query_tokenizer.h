#pragma once

#include <sqlite3.h>

#include <string>

// The full-text table's own tokenizer (unicode61, diacritics removed), asked
// through SQLite's FTS5 API, so a question word is judged exactly as the
// table's text was. Lives for one search.
class QueryTokenizer {
public:
    // Finds the tokenizer on db's connection; when it cannot, has_token
    // answers true for every word.
    explicit QueryTokenizer(sqlite3 *db);
    ~QueryTokenizer();
    QueryTokenizer(const QueryTokenizer &) = delete;
    QueryTokenizer &operator=(const QueryTokenizer &) = delete;

    // True when the tokenizer finds at least one token (a run of Unicode
    // letters or numbers) in word.
    bool has_token(const std::string &word);

private:
    fts5_tokenizer methods{};
    Fts5Tokenizer *tokenizer = nullptr;
};
