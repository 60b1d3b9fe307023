#include "engine/engine.h"

#include <locale>
#include <sstream>

#include "common/log.h"
#include "engine/prompts.h"

std::vector<SearchResult> Engine::search(const std::string &question, int32_t top_k) {
    if (!initialized) return {};
    if (top_k < 0) top_k = config.top_k;

    const std::vector<float> query = embed(question);
    if (query.empty()) return {};

    const std::vector<ChunkHit> hits = store->search(query, top_k, question);
    std::vector<SearchResult> results;
    results.reserve(hits.size());
    for (const ChunkHit &hit : hits)
        results.push_back(SearchResult{hit.file_path, hit.text, hit.score, hit.chunk_id, 0});
    return results;
}

std::string Engine::generate(const std::string &question) {
    if (!initialized) return "[ERROR] Engine not initialized";

    const std::vector<SearchResult> results = search(question, config.top_k);
    if (results.empty()) {
        log_stdout("[Engine] No context chunks found. Bypassing LLM.\n");
        return prompts::kNoHitHead + question + prompts::kNoHitTail;
    }
    log_stdout("[Engine] Retrieved " + std::to_string(results.size()) + " context chunks\n");
    return run_llm(build_prompt(question, results), true);
}

std::string Engine::build_prompt(const std::string &question, const std::vector<SearchResult> &results) {
    std::ostringstream prompt;
    prompt.imbue(std::locale::classic());  // plain digits in "Arquivo 1000"
    prompt << prompts::kQuestionSystem << question << prompts::kQuestionRuleFound << question
           << prompts::kQuestionRulesRest;
    int i = 1;
    for (const SearchResult &r : results)
        prompt << "--- Arquivo " << i++ << ": " << r.file_path << " ---\n" << r.text << "\n\n";
    prompt << prompts::kQuestionQuestionHead << question << prompts::kQuestionTail;
    return prompt.str();
}
