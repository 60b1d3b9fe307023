// Answering over raw text: windows of the chat model's own tokens, put to the
// model one after the other until one answers; the model goes when the scan ends.
// Also what a rewritten query is taken from.

#include "engine/answer_rules.h"
#include "engine/prompts.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(WindowRules, AnswersLongerThanFiveBytesWithoutThePhrase) {
    EXPECT_FALSE(is_window_answer("abcde"));
    EXPECT_TRUE(is_window_answer("abcdef"));
    EXPECT_FALSE(is_window_answer("O prazo é de 30 dias. Não encontrei essa informação no documento."));
    EXPECT_TRUE(is_window_answer("Nao encontrei essa informacao no documento"));
}

TEST(RewriteRule, TakesWhatFollowsTheFirstMarkerUntrimmed) {
    EXPECT_EQ(rewritten_query("Palavras-chave: prazo multa\n", "q"), " prazo multa\n");
    EXPECT_EQ(rewritten_query("Claro. Palavras-chave:", "q"), "");
    EXPECT_EQ(rewritten_query("Palavras-chave:a Palavras-chave: b", "q"), "a Palavras-chave: b");
    EXPECT_EQ(rewritten_query(" palavras-chave: prazo ", "q"), " palavras-chave: prazo ");
    EXPECT_EQ(rewritten_query("ok", "q"), "ok");
    EXPECT_EQ(rewritten_query("x", "q"), "q");
}

std::unique_ptr<Engine> open(const TempDir &dir, const std::string &llm) {
    auto engine = std::make_unique<Engine>(engine_config(dir, llm));
    CapturedOutput quiet;
    EXPECT_TRUE(engine->init());
    return engine;
}

TEST(WindowAnswer, EveryWindowRunsWhenNoneAnswers) {
    TempDir dir;
    auto engine = open(dir, model_path("chat-qwen2-notfound"));
    for (auto [tokens, windows] : {std::pair{1500, 1}, {1501, 2}, {2801, 3}}) {
        std::string text;
        for (int i = 0; i < tokens; ++i) text += " casa";
        CapturedOutput out;
        ASSERT_EQ(engine->tokenize(text, false).size(), static_cast<size_t>(tokens));
        EXPECT_EQ(engine->generate_with_context("Onde?", text), prompts::kWindowNotFound);
        // Each generation ends its prompt decoding at 100%.
        int n = 0;
        for (size_t at = out.out().find("100% ("); at != std::string::npos; at = out.out().find("100% (", at + 1)) ++n;
        EXPECT_EQ(n, windows) << tokens;
        EXPECT_FALSE(engine->is_llm_loaded());
    }
}

} // namespace
