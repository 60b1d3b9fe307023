#include "engine/engine.h"

#include <string>

#include "common/log.h"

/*
** Rows are committed as each chunk is added, points reach the index file only
** at a save, so a killed host leaves chunks that only the text search finds,
** and an unchanged file is never indexed again. Each such chunk gets its point
** back, embedded from its stored text under its own label; the index is then
** saved, so the work is not repeated.
*/
void Engine::restore_lost_points() {
    const std::vector<int32_t> lost = store->reconcile_points();
    size_t restored = 0;
    for (const int32_t label : lost) {
        const std::vector<float> embedding = embed(store->chunk_text(label));
        if (!embedding.empty() && store->restore_point(label, embedding)) ++restored;
    }
    if (!lost.empty())
        log_stdout("[Engine] Restored " + std::to_string(restored) + " of " +
                   std::to_string(lost.size()) + " chunks missing from the vector index.\n");
    if (store->has_unsaved_changes()) store->save_index(true);
}
