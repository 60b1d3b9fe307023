#include "engine/engine.h"

#include "engine/answer_rules.h"
#include "engine/prompts.h"
#include "platform/prompt_dump.h"

std::string Engine::generate_chat_with_context(const std::string &history, const std::string &question,
                                               const std::string &documents) {
    if (!initialized) return "[ERROR] Engine not initialized";
    std::lock_guard<std::mutex> lock(answer_mutex);
    const Prompt prompt = build_chat_prompt(history, question, documents);
    platform::write_prompt_dump(platform::PromptDump::chat, config.data_dir, prompt.str());
    return run_llm(prompt, true);
}

std::string Engine::rewrite_query(const std::string &history, const std::string &question) {
    if (!initialized) return question;
    std::lock_guard<std::mutex> lock(answer_mutex);
    return rewritten_query(run_llm(build_rewrite_prompt(history, question), true), question);
}

Prompt Engine::build_chat_prompt(const std::string &history, const std::string &question,
                                 const std::string &documents) {
    Prompt prompt;
    prompt.fixed(prompts::kChatSystem);
    if (!history.empty()) prompt.fixed(prompts::kChatHistoryHead).text(history).fixed(prompts::kChatMLTurnEnd);
    prompt.fixed(prompts::kChatDocumentsHead).text(documents).fixed(prompts::kChatQuestionHead).text(question)
        .fixed(prompts::kChatMLAnswerHead);
    return prompt;
}

Prompt Engine::build_rewrite_prompt(const std::string &history, const std::string &question) {
    Prompt prompt;
    prompt.fixed(prompts::kRewriteSystem).text(history).fixed(prompts::kRewriteQuestionHead).text(question)
        .fixed(prompts::kChatMLAnswerHead);
    return prompt;
}
