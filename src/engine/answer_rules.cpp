#include "engine/answer_rules.h"

#include <cstring>

#include "engine/prompts.h"

bool is_window_answer(const std::string &answer) {
    return answer.size() > 5 && answer.find(prompts::kWindowNotFound) == std::string::npos;
}

std::string rewritten_query(const std::string &answer, const std::string &question) {
    if (answer.size() < 2) return question;
    const size_t marker = answer.find(prompts::kRewriteKeywordMarker);
    if (marker == std::string::npos) return answer;
    return answer.substr(marker + std::strlen(prompts::kRewriteKeywordMarker));
}
