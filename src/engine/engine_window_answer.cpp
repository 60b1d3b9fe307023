#include "engine/engine.h"

#include "common/log.h"
#include "engine/answer_rules.h"
#include "engine/prompts.h"
#include "engine/token_windows.h"

namespace {

constexpr size_t kWindowTokens = 1500;
constexpr size_t kWindowOverlap = 200;

std::vector<llama_token> slice(const std::vector<llama_token> &tokens, size_t begin, size_t end) {
    return {tokens.begin() + static_cast<std::ptrdiff_t>(begin), tokens.begin() + static_cast<std::ptrdiff_t>(end)};
}

} // namespace

// Puts overlapping windows of the chat model's own tokens to the model, one
// after the other, until one answers; the model is unloaded when a scan ends
// (a text with no tokens starts none and leaves it loaded). A window whose
// prompt would be cut is made shorter instead, so no text goes unread.
std::string Engine::answer_over_text(const std::string &question, const std::string &text) {
    log_stdout("[Engine] [SLIDING WINDOW] Analyzing raw text context...\n");
    const std::vector<llama_token> tokens = tokenize(text, false);
    if (tokens.empty()) {
        // Nothing read because the model is missing is not "the text lacks the answer".
        if (!is_llm_loaded()) return "[ERROR] Failed to load LLM. Check model path: " + config.llm_model_path;
        return prompts::kWindowNotFound;
    }
    auto window_prompt = [&](size_t begin, size_t end) {
        return build_window_prompt(detokenize(slice(tokens, begin, end)), question);
    };
    TokenWindows windows(tokens.size(), kWindowTokens, kWindowOverlap,
                         [&](size_t begin, size_t end) { return chat.prompt_excess(window_prompt(begin, end)); });
    for (size_t begin = 0, end = 0; windows.next(begin, end);) {
        std::string answer = run_llm(window_prompt(begin, end), true);
        if (is_window_answer(answer)) {
            unload_llm();
            return answer;
        }
    }
    unload_llm();
    return prompts::kWindowNotFound;
}

Prompt Engine::build_window_prompt(const std::string &window_text, const std::string &question) {
    Prompt prompt;
    prompt.fixed(prompts::kWindowSystemHead).fixed(prompts::kWindowNotFound).fixed(prompts::kWindowDocumentHead)
        .text(window_text).fixed(prompts::kWindowQuestionHead).text(question).fixed(prompts::kWindowTail);
    return prompt;
}
