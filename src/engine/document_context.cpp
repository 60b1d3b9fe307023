#include "engine/document_context.h"

#include <algorithm>

namespace {

constexpr size_t kShortestKeyword = 3;
constexpr float kKeywordBoost = 0.25f;
constexpr float kAgreementBoost = 0.5f;
constexpr size_t kTopChunks = 10;
constexpr size_t kContextBudget = 2500;

std::string piece_of(const Chunk &chunk) {
    return "[Página " + std::to_string(chunk.page_number) + "]: " + chunk.text + "\n\n";
}

} // namespace

std::vector<std::string> question_keywords(const std::string &normalized_question) {
    static const char *const kSpace = " \t\n\v\f\r";
    std::vector<std::string> words;
    size_t start = normalized_question.find_first_not_of(kSpace);
    while (start != std::string::npos) {
        const size_t end = normalized_question.find_first_of(kSpace, start);
        std::string word = normalized_question.substr(start, end - start);
        if (word.size() >= kShortestKeyword) words.push_back(std::move(word));
        start = normalized_question.find_first_not_of(kSpace, end);
    }
    return words;
}

float keyword_boost(const std::vector<std::string> &keywords, const std::string &normalized_text) {
    float boost = 0.0f;
    size_t found = 0;
    for (const std::string &keyword : keywords) {
        if (normalized_text.find(keyword) == std::string::npos) continue;
        boost += kKeywordBoost;
        ++found;
    }
    if (found >= 2 || (found == 1 && keywords.size() <= 2)) boost += kAgreementBoost;
    return boost;
}

DocumentContext pack_document_context(std::vector<ScoredChunk> scored) {
    std::stable_sort(scored.begin(), scored.end(),
                     [](const ScoredChunk &a, const ScoredChunk &b) { return a.score > b.score; });
    scored.resize(std::min(scored.size(), kTopChunks));

    std::vector<const Chunk *> selected;
    size_t total = 0;
    for (const ScoredChunk &entry : scored) {
        total += piece_of(*entry.chunk).size();
        if (total > kContextBudget) {
            if (selected.empty()) selected.push_back(entry.chunk);
            break;
        }
        selected.push_back(entry.chunk);
    }
    std::stable_sort(selected.begin(), selected.end(),
                     [](const Chunk *a, const Chunk *b) { return a->chunk_id < b->chunk_id; });

    DocumentContext context;
    context.selected = selected.size();
    for (const Chunk *chunk : selected) {
        const std::string piece = piece_of(*chunk);
        if (context.text.size() + piece.size() > kContextBudget) {
            context.text.append(piece, 0, kContextBudget - context.text.size());
            context.limit_reached = true;
            break;
        }
        context.text += piece;
    }
    return context;
}
