#include "engine/engine.h"

#include "common/log.h"
#include "engine/document_context.h"
#include "engine/prompts.h"
#include "platform/filesystem.h"
#include "platform/prompt_dump.h"
#include "store/text_normalize.h"

namespace {

constexpr size_t kPreviewBelow = 2000;

// Any file-system object counts; a source that cannot even be tested as a
// path (unreadable bytes, too long, ...) is raw text.
bool names_existing_path(const std::string &source) {
    try {
        return platform::path_exists(platform::path_from_host(source));
    } catch (...) {
        return false;
    }
}

float similarity(const std::vector<float> &q, const std::vector<float> &e) {
    if (e.size() != q.size()) return 0.0f;
    float sum = 0.0f;
    for (size_t i = 0; i < q.size(); ++i) sum += q[i] * e[i];
    return sum;
}

} // namespace

std::string Engine::generate_with_context(const std::string &question, const std::string &source) {
    if (!initialized) return "[ERROR] Engine not initialized";
    std::lock_guard<std::mutex> lock(answer_mutex);
    return names_existing_path(source) ? answer_from_document(question, source)
                                       : answer_over_text(question, source);
}

// Ranks the document's stored chunks against the question (every chunk is
// embedded again) and answers from the best of them in document order.
std::string Engine::answer_from_document(const std::string &question, const std::string &path) {
    log_stdout("[Engine] [SEMANTIC RANKING] Analyzing: " + path + "\n");
    const std::vector<float> q = embed(question);
    if (q.empty()) return "[ERROR] Query embedding failed";
    const std::vector<Chunk> chunks = store->get_file_chunks(path);
    if (chunks.empty()) return prompts::kDocumentNotIndexed;

    const std::vector<std::string> keywords = question_keywords(normalize_text(question));
    std::vector<ScoredChunk> scored;
    scored.reserve(chunks.size());
    for (const Chunk &chunk : chunks) {
        const float sim = similarity(q, embed(chunk.text));
        scored.push_back({&chunk, sim + keyword_boost(keywords, normalize_text(chunk.text))});
    }
    const DocumentContext context = pack_document_context(std::move(scored));
    const std::string size = std::to_string(context.text.size());
    if (context.limit_reached) log_stdout("[Engine] Context size limit reached. Stopping at " + size + " chars.\n");
    log_stdout("[Engine] Context size: " + size + " chars. Selected " + std::to_string(context.selected) +
               " chunks.\n");
    if (context.text.size() < kPreviewBelow) log_stdout("[Engine] Context Preview:\n" + context.text + "\n");

    const Prompt prompt = build_document_prompt(context.text, question);
    platform::write_prompt_dump(platform::PromptDump::document, config.data_dir, prompt.str());
    return run_llm(prompt, true);
}

Prompt Engine::build_document_prompt(const std::string &context, const std::string &question) {
    // The page labels in the context carry no chat markers; all of it is inserted text.
    Prompt prompt;
    prompt.fixed(prompts::kDocumentSystem).text(context).fixed(prompts::kDocumentQuestionHead).text(question)
        .fixed(prompts::kChatMLAnswerHead);
    return prompt;
}
