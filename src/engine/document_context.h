#pragma once

#include <string>
#include <vector>

#include "store/chunk.h"

// How the chunks of one document are ranked against a question and packed
// into the context of its prompt. All lengths are bytes of UTF-8.

// The words of a normalised question that are at least 3 bytes long, split
// at ASCII whitespace, in order, repeats kept.
std::vector<std::string> question_keywords(const std::string &normalized_question);

// 0.25 per keyword found anywhere in the normalised chunk text, plus 0.5 when
// two or more were found, or when one was found and there are at most two.
float keyword_boost(const std::vector<std::string> &keywords, const std::string &normalized_text);

struct ScoredChunk {
    const Chunk *chunk;
    float score;  // similarity plus keyword boost; higher is better
};

struct DocumentContext {
    std::string text;            // pieces "[Página N]: text\n\n", at most 2500 bytes
    size_t selected = 0;         // chunks that contributed a piece
    bool limit_reached = false;  // the one selected piece was cut to the budget
};

// Takes the 10 best chunks (ties keep their given order), selects them in
// score order until the pieces would pass 2500 bytes (the best one always),
// and joins the selected pieces in chunk_id order.
DocumentContext pack_document_context(std::vector<ScoredChunk> scored);
