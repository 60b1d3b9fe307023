// Chat answering with its prompt dump, and query rewriting.

#include "engine/answer_rules.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(RewriteRule, TakesWhatFollowsTheFirstMarkerUntrimmed) {
    EXPECT_EQ(rewritten_query("Palavras-chave: prazo multa\n", "q"), " prazo multa\n");
    EXPECT_EQ(rewritten_query("Claro. Palavras-chave:", "q"), "");
    EXPECT_EQ(rewritten_query("Palavras-chave:a Palavras-chave: b", "q"), "a Palavras-chave: b");
    EXPECT_EQ(rewritten_query(" palavras-chave: prazo ", "q"), " palavras-chave: prazo ");
    EXPECT_EQ(rewritten_query("ok", "q"), "ok");
    EXPECT_EQ(rewritten_query("x", "q"), "q");
}

TEST(Chat, DumpsOnlyItsPromptAndRewritingKeepsTheModel) {
    TempDir dir;
    Engine engine(engine_config(dir, model_path("chat-qwen2-keywords")));
    CapturedOutput quiet;
    ASSERT_TRUE(engine.init());
    const fs::path dump = prompt_dump_file(dir, "prompt_chat_dump.txt");
    EXPECT_EQ(engine.generate_chat_with_context("U: oi", "E o prazo?", "doc"), "Palavras-chave: contrato aluguel");
    EXPECT_EQ(read_file(dump),
              as_dumped(Engine::build_chat_prompt("U: oi", "E o prazo?", "doc").str()));
    EXPECT_EQ(engine.rewrite_query("U: oi", "E o prazo?"), " contrato aluguel");
    EXPECT_TRUE(engine.is_llm_loaded());
    EXPECT_FALSE(fs::exists(dir.path() / "data" / "prompt_dump.txt"));
}

} // namespace
