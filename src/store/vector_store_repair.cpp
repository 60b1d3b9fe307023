#include "store/vector_store.h"

#include <hnswlib/hnswlib.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>

#include "common/log.h"
#include "store/sqlite_statement.h"

namespace {

// Labels reach hnswlib widened with their sign.
hnswlib::labeltype point_label(int64_t label) { return static_cast<hnswlib::labeltype>(label); }

bool has_live_point(const hnswlib::HierarchicalNSW<float> &index, int64_t label) {
    const auto found = index.label_lookup_.find(point_label(label));
    return found != index.label_lookup_.end() && !index.isMarkedDeleted(found->second);
}

} // namespace

/*
** Brings the index in step with the rows at start-up: deletes the points that
** have no row and lists the rows that have no live point. The scan reads the
** labels from the path index, which covers them and is far smaller than the
** table. Empty (the failure logged) when the scan or the growth fails.
*/
std::vector<int32_t> VectorStore::reconcile_points() {
    if (!initialized) return {};
    std::lock_guard<std::recursive_mutex> lock(mutex);
    try {
        return reconcile_points_locked();
    } catch (const std::exception &e) {
        log_stderr(std::string("[VectorStore] Failed to check the index against the rows: ") +
                   e.what() + "\n");
        return {};
    }
}

std::vector<int32_t> VectorStore::reconcile_points_locked() {
    std::vector<int32_t> missing;
    std::vector<int64_t> rows;
    {
        SqliteStatement labels(db, "SELECT label FROM chunks");
        if (!labels.ok()) return missing;
        while (labels.step() == SQLITE_ROW) {
            const int64_t label = labels.column_int64(0);
            rows.push_back(label);
            // A label beyond 32 bits cannot be searched anyway.
            if (label >= INT32_MIN && label <= INT32_MAX && !has_live_point(*index, label))
                missing.push_back(static_cast<int32_t>(label));
        }
    }

    // Every row but the missing ones has its own live point, so equal counts
    // mean no live point lacks a row.
    const size_t live = index->cur_element_count - index->getDeletedCount();
    if (live > rows.size() - missing.size()) {
        std::sort(rows.begin(), rows.end());
        std::vector<hnswlib::labeltype> orphans;
        for (const auto &[label, id] : index->label_lookup_)
            if (!index->isMarkedDeleted(id) &&
                !std::binary_search(rows.begin(), rows.end(), static_cast<int64_t>(label)))
                orphans.push_back(label);
        // Left live, such a point would be taken over by the next add under
        // its label, and a second lost save would pair that row with this vector.
        for (const hnswlib::labeltype label : orphans) index->markDelete(label);
        dirty = dirty || !orphans.empty();
    }

    const size_t needed = index->cur_element_count + missing.size();
    if (needed > index->max_elements_) index->resizeIndex(std::max(needed, index->max_elements_ * 2));
    return missing;
}

std::string VectorStore::chunk_text(int32_t label) {
    if (!initialized) return std::string();
    std::lock_guard<std::recursive_mutex> lock(mutex);
    SqliteStatement query(db, "SELECT chunk_text FROM chunks WHERE label = ?");
    if (!query.ok()) return std::string();
    query.bind_int(1, label);
    return query.step() == SQLITE_ROW ? query.column_text(0) : std::string();
}

/*
** Adds the point of an existing row under the row's own label; a point left
** deleted under that label is revived with the new vector. Touches no row and
** not the next label.
*/
bool VectorStore::restore_point(int32_t label, const std::vector<float> &embedding) {
    if (!initialized || embedding.size() != static_cast<size_t>(dim)) return false;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    try {
        const hnswlib::labeltype key = point_label(label);
        // A loaded index refuses to update a deleted point until it is revived.
        const auto found = index->label_lookup_.find(key);
        if (found != index->label_lookup_.end() && index->isMarkedDeleted(found->second))
            index->unmarkDelete(key);
        index->addPoint(embedding.data(), key, false);
        dirty = true;
        return true;
    } catch (const std::exception &e) {
        log_stderr("[VectorStore] restore_point(" + std::to_string(label) + ") failed: " + e.what() +
                   "\n");
        return false;
    }
}
