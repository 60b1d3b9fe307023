#include "engine/engine.h"

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
    std::lock_guard<std::mutex> lock(answer_mutex);

    const std::vector<SearchResult> results = search(question, config.top_k);
    if (results.empty()) {
        log_stdout("[Engine] No context chunks found. Bypassing LLM.\n");
        return prompts::kNoHitHead + question + prompts::kNoHitTail;
    }
    log_stdout("[Engine] Retrieved " + std::to_string(results.size()) + " context chunks\n");
    return run_llm(build_prompt(question, results), true);
}

Prompt Engine::build_prompt(const std::string &question, const std::vector<SearchResult> &results) {
    Prompt prompt;
    prompt.fixed(prompts::kQuestionSystem).text(question).fixed(prompts::kQuestionRuleFound).text(question)
        .fixed(prompts::kQuestionRulesRest);
    int i = 1;
    for (const SearchResult &r : results) {
        prompt.fixed("--- Arquivo " + std::to_string(i++) + ": ").text(r.file_path).fixed(" ---\n")
            .text(r.text).fixed("\n\n");
    }
    prompt.fixed(prompts::kQuestionQuestionHead).text(question).fixed(prompts::kQuestionTail);
    return prompt;
}
