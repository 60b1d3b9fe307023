// Answering over raw text: windows of the chat model's own tokens, put to the
// model one after the other until one answers; the model goes when the scan ends.
// Also what a rewritten query is taken from.

#include "engine/answer_rules.h"
#include "engine/chat_model.h"
#include "engine/prompt_tokenizer.h"
#include "engine/prompts.h"
#include "engine/token_windows.h"
#include "test_support.h"

namespace {

using namespace test_support;

// A window answers with more than five bytes (five are refused through the C
// API) and without the exact phrase; a rewrite is what follows the first
// marker, untrimmed, or else the whole answer, or the question for less than two bytes.
TEST(AnswerRules, WindowAnswersAndRewrittenQueries) {
    EXPECT_TRUE(is_window_answer("abcdef"));
    EXPECT_FALSE(is_window_answer("O prazo é de 30 dias. Não encontrei essa informação no documento."));
    EXPECT_TRUE(is_window_answer("Nao encontrei essa informacao no documento"));
    EXPECT_EQ(rewritten_query("Palavras-chave: prazo multa\n", "q"), " prazo multa\n");
    EXPECT_EQ(rewritten_query("Palavras-chave:a Palavras-chave: b", "q"), "a Palavras-chave: b");
    EXPECT_EQ(rewritten_query(" palavras-chave: prazo ", "q"), " palavras-chave: prazo ");
    EXPECT_EQ(rewritten_query("ok", "q"), "ok");
    EXPECT_EQ(rewritten_query("x", "q"), "q");
}

TEST(WindowAnswer, EveryWindowRunsWhenNoneAnswers) {
    TempDir dir;
    // Room for whole windows: they keep their full length and step.
    HandlePtr h = open_handle(dir, model_path("chat-qwen2-notfound"), true, 4096);
    for (auto [tokens, windows] : {std::pair{1500, 1}, {1501, 2}, {2801, 3}}) {
        std::string text;
        for (int i = 0; i < tokens; ++i) text += " casa";
        CapturedOutput out;
        ASSERT_EQ(h->engine->tokenize(text, false).size(), static_cast<size_t>(tokens));
        EXPECT_EQ(h->engine->generate_with_context("Onde?", text), prompts::kWindowNotFound);
        // Each generation ends its prompt decoding at 100%.
        int n = 0;
        for (size_t at = out.out().find("100% ("); at != std::string::npos; at = out.out().find("100% (", at + 1)) ++n;
        EXPECT_EQ(n, windows) << tokens;
        EXPECT_FALSE(h->engine->is_llm_loaded());
    }
}

// Words that are one token each and all different, so no window can stand in for another.
std::string distinct_words(const ModelVocab &vocab, int count) {
    std::string text;
    char piece[64];
    for (llama_token id = 0; count > 0; ++id) {
        const int32_t k = llama_token_to_piece(vocab.get(), id, piece, sizeof piece, 0, false);
        if (k > 3 && piece[0] == ' ' && std::all_of(piece + 1, piece + k, [](char c) { return c >= 'a' && c <= 'z'; }))
            text.append(piece, static_cast<size_t>(k)), --count;
    }
    return text;
}

TEST(WindowAnswer, WindowsShrinkToPromptsReadWholeAndLeaveNoTokenUnread) {
    TempDir dir;
    const ModelVocab vocab("chat-qwen2-notfound");
    const PromptTokenizer measure(vocab.get());
    const std::string text = distinct_words(vocab, 3000);
    // Room for the question and long windows, for windows below the overlap, or for no window at all.
    for (auto [n_ctx, question_words] : {std::pair{2048, 1}, {1024, 1}, {1024, 300}, {1024, 600}}) {
        HandlePtr h = open_handle(dir, model_path("chat-qwen2-notfound"), true, n_ctx);
        const std::string question = distinct_words(vocab, question_words);
        CapturedOutput out;
        EXPECT_EQ(h->engine->generate_with_context(question, text), prompts::kWindowNotFound);
        const bool fits = question_words + 100 < n_ctx - 512;
        EXPECT_EQ(out.err().find("Prompt truncated") == std::string::npos, fits) << n_ctx << " " << question_words;

        ChatModel chat(h->engine->configuration());
        const std::vector<llama_token> tokens = chat.tokenize(text, false);
        auto prompt = [&](size_t b, size_t e) {
            return Engine::build_window_prompt(chat.detokenize({tokens.data() + b, tokens.data() + e}), question);
        };
        TokenWindows windows(tokens.size(), 1500, 200,
                             [&](size_t b, size_t e) { return chat.prompt_excess(prompt(b, e)); });
        size_t begin = 0, end = 0, last = 0, read = 0;
        while (windows.next(begin, end)) {
            EXPECT_TRUE(begin <= read && end > read) << begin;  // nothing skipped, and on
            EXPECT_TRUE(read < last + 400 || read - begin == 200) << begin;
            // Whole, and no shorter than it had to be.
            const size_t size = measure.tokenize(prompt(begin, end), true).size(), room = n_ctx - 512;
            EXPECT_TRUE(!fits || (size <= room && (end == tokens.size() || size + 3 >= room))) << begin << " " << end;
            last = begin, read = end;
        }
        EXPECT_EQ(read, tokens.size());
    }
}

} // namespace
