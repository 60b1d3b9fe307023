#include "store/vector_store.h"

#include <hnswlib/hnswlib.h>
#include <sqlite3.h>

#include <algorithm>
#include <locale>
#include <map>
#include <sstream>

#include "common/log.h"
#include "store/query_tokenizer.h"
#include "store/sqlite_statement.h"
#include "store/text_normalize.h"

namespace {

constexpr float kMinVectorScore = 0.45f;

// The FTS5 expression for a question: every word of 3 bytes or more in which
// the table's tokenizer finds a token, as a prefix phrase, all required. A
// word without one ("–", "…") would be a phrase that matches nothing.
std::string build_text_query(const std::string &question, QueryTokenizer &tokens) {
    std::istringstream words(normalize_text(question));
    words.imbue(std::locale::classic());
    std::string query, word;
    while (words >> word) {
        if (word.size() < 3 || !tokens.has_token(word)) continue;
        if (!query.empty()) query += " AND ";
        query += '"' + word + "\"*";
    }
    return query;
}

} // namespace

/*
** Hybrid search: the nearest 2 * top_k points scoring above 0.45, plus the
** 20 best full-text matches of the question's words, each adding 2 + 0.1 * bm25
** (so a text match close in meaning ranks above the same match far from it).
** Best first, at most top_k hits. Returns an empty list on any failure, and
** while the index holds no points at all.
*/
std::vector<ChunkHit> VectorStore::search(const std::vector<float> &query, int32_t top_k,
                                          const std::string &question) {
    if (!initialized || index->cur_element_count == 0) return {};
    if (query.size() != static_cast<size_t>(dim)) return {};
    std::lock_guard<std::recursive_mutex> lock(mutex);
    try {
        std::map<int32_t, float> scores;
        std::vector<int32_t> fetch_order;

        const int64_t k = std::min<int64_t>(static_cast<int64_t>(index->cur_element_count.load()),
                                            2 * static_cast<int64_t>(top_k));
        if (k >= 1) {
            auto nearest = index->searchKnn(query.data(), static_cast<size_t>(k));
            while (!nearest.empty()) {
                const float score = 1.0f - nearest.top().first;
                const int32_t label = static_cast<int32_t>(nearest.top().second);
                nearest.pop();
                // A NaN fails the comparison too.
                if (!(score > kMinVectorScore)) continue;
                if (scores.emplace(label, score).second) fetch_order.push_back(label);
            }
        }

        if (!question.empty()) {
            QueryTokenizer tokens(db);
            const std::string text_query = build_text_query(question, tokens);
            SqliteStatement matches(db, "SELECT rowid, -rank FROM chunks_fts WHERE chunks_fts "
                                        "MATCH ? ORDER BY rank LIMIT 20");
            if (matches.ok()) {
                matches.bind_text(1, text_query);
                int rows = 0;
                while (matches.step() == SQLITE_ROW) {
                    const int32_t label = matches.column_int(0);
                    const float rank = static_cast<float>(matches.column_double(1));
                    const float bonus = rank * 0.1f + 1.0f;
                    const auto [entry, fresh] = scores.emplace(label, 0.0f);
                    if (fresh) fetch_order.push_back(label);
                    entry->second += bonus + 1.0f;
                    ++rows;
                }
                if (rows > 0)
                    log_stdout("[VectorStore] FTS5 found " + std::to_string(rows) +
                               " matches for: " + text_query + "\n");
            }
        }

        std::vector<ChunkHit> hits;
        SqliteStatement row(
            db, "SELECT chunk_id, page_number, file_path, chunk_text FROM chunks WHERE label = ?");
        if (!row.ok()) return {};
        for (const int32_t label : fetch_order) {
            row.reset();
            row.bind_int(1, label);
            // A point whose row was never stored has nothing to show.
            if (row.step() != SQLITE_ROW) continue;
            ChunkHit hit;
            hit.label = label;
            hit.score = scores[label];
            hit.chunk_id = row.column_int(0);
            hit.page_number = row.column_int(1);
            hit.file_path = row.column_text(2);
            hit.text = row.column_text(3);
            hits.push_back(std::move(hit));
        }

        std::sort(hits.begin(), hits.end(),
                  [](const ChunkHit &a, const ChunkHit &b) { return a.score > b.score; });
        // A negative top_k cuts nothing.
        if (top_k >= 0 && hits.size() > static_cast<size_t>(top_k))
            hits.resize(static_cast<size_t>(top_k));
        return hits;
    } catch (...) {
        return {};
    }
}
