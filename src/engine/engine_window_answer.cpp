#include "engine/engine.h"

#include <algorithm>

#include "common/log.h"
#include "engine/answer_rules.h"
#include "engine/prompts.h"

namespace {

constexpr size_t kWindowTokens = 1500;
constexpr size_t kWindowStep = 1300;

} // namespace

// Puts overlapping windows of the chat model's own tokens to the model, one
// after the other, until one answers; the model is unloaded when a scan ends
// (a text with no tokens starts none and leaves it loaded).
std::string Engine::answer_over_text(const std::string &question, const std::string &text) {
    log_stdout("[Engine] [SLIDING WINDOW] Analyzing raw text context...\n");
    const std::vector<llama_token> tokens = tokenize(text, false);
    if (tokens.empty()) {
        // Nothing read because the model is missing is not "the text lacks the answer".
        if (!is_llm_loaded()) return "[ERROR] Failed to load LLM. Check model path: " + config.llm_model_path;
        return prompts::kWindowNotFound;
    }
    for (size_t start = 0;; start += kWindowStep) {
        const size_t end = std::min(tokens.size(), start + kWindowTokens);
        const std::vector<llama_token> window(tokens.begin() + static_cast<std::ptrdiff_t>(start),
                                              tokens.begin() + static_cast<std::ptrdiff_t>(end));
        std::string answer = run_llm(build_window_prompt(detokenize(window), question), true);
        if (is_window_answer(answer)) {
            unload_llm();
            return answer;
        }
        if (end == tokens.size()) {
            unload_llm();
            return prompts::kWindowNotFound;
        }
    }
}

Prompt Engine::build_window_prompt(const std::string &window_text, const std::string &question) {
    Prompt prompt;
    prompt.fixed(prompts::kWindowSystemHead).fixed(prompts::kWindowNotFound).fixed(prompts::kWindowDocumentHead)
        .text(window_text).fixed(prompts::kWindowQuestionHead).text(question).fixed(prompts::kWindowTail);
    return prompt;
}
