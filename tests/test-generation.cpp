// The answering path: the question prompt, where answers are cut, and the chat
// model's load/unload cycle and generation loop, driven by the generated
// scripted models (each replies with a fixed script to any prompt).

#include "engine/prompts.h"
#include "engine/stop_strings.h"
#include "test_support.h"

namespace {

using namespace test_support;

// The rule texts are the constants in prompts.h; between them the question
// (twice in the rules, once at the end) and each source in retrieval order.
TEST(QuestionPrompt, QuestionAndSourcesInTheirPlaces) {
    const std::string q = "Quando vence o 'contrato'?";
    const std::vector<SearchResult> results = {{"C:\\docs\\contrato.txt", "O contrato vence em março.", 2.5f, 0, 0},
                                               {"docs\\vazio.txt", "", 0.9f, 3, 0}};
    EXPECT_EQ(Engine::build_prompt(q, results).str(),
              prompts::kQuestionSystem + q + prompts::kQuestionRuleFound + q + prompts::kQuestionRulesRest +
                  "--- Arquivo 1: C:\\docs\\contrato.txt ---\nO contrato vence em março.\n\n"
                  "--- Arquivo 2: docs\\vazio.txt ---\n\n\nPERGUNTA: " + q + "\n<|end|>\n<|assistant|>\n");
}

// Appends pieces one by one as the generation loop does; returns the answer.
std::string generate(std::initializer_list<std::string> pieces) {
    std::string answer;
    for (const std::string &piece : pieces) {
        answer += piece;
        const size_t cut = find_stop_cut(answer, answer.size() - piece.size());
        if (cut != std::string::npos) return answer.substr(0, cut);
    }
    return answer;
}

TEST(StopStrings, FirstListedStringCutsEvenAcrossPieces) {
    EXPECT_EQ(generate({"O prazo", " é 30 dias.", "\nPerg", "unta", ":", " e depois"}), "O prazo é 30 dias.\n");
    // One piece completes "Question:" (6th) and "###" (5th): cut at "###".
    EXPECT_EQ(generate({"A Question", ":###"}), "A Question:");
    // "USUÁRIO:" is 8th; "<|user|>" (3rd) completed later in the same piece wins.
    EXPECT_EQ(generate({"x USUÁRIO: y <|user|> z"}), "x USUÁRIO: y ");
    EXPECT_EQ(generate({"question: pergunta: usuario: ## # ```JSON"}), "question: pergunta: usuario: ## # ```JSON");
}

// The script as the chat model renders its tokens: with a leading space.
const char *const kScript = " Resposta: o contrato vence em março de 2031.";
const char *const kPrompt = "<|user|>\nOi<|end|>\n<|assistant|>\n";

std::unique_ptr<Engine> make_engine(const TempDir &dir, const std::string &model, int n_ctx = 2048) {
    EngineConfig config = engine_config(dir, model_path(model));
    config.n_ctx = n_ctx;
    auto engine = std::make_unique<Engine>(config);
    CapturedOutput quiet;
    EXPECT_TRUE(engine->init());
    return engine;
}

TEST(Generation, KeepsLongPromptEndsReusesTheCacheAndUnloadsOnce) {
    TempDir dir;
    auto engine = make_engine(dir, "chat-phi3");
    std::string prompt = "<|user|>\n";
    for (int i = 0; i < 3000; ++i) prompt += "palavra" + std::to_string(i) + " ";
    prompt += "PERGUNTA: fim?\n<|end|>\n<|assistant|>\n";
    const std::vector<llama_token> full = ModelVocab("chat-phi3").tokens(prompt, true, true);
    {
        CapturedOutput quiet;
        EXPECT_EQ(engine->run_llm(Prompt().fixed(prompt), true), kScript);
        const std::vector<llama_token> &kept = engine->prompt_cache();
        ASSERT_EQ(kept.size(), 1536u);
        EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 1000, full.begin()));
        EXPECT_TRUE(std::equal(kept.end() - 200, kept.end(), full.end() - 200));
        EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), true), kScript);
    }
    // Again, this time unloading after: the script still wins, then the model goes, once.
    CapturedOutput out;
    EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), false), kScript);
    EXPECT_EQ(engine->detokenize({1, 2, 3}), "");  // does not load
    EXPECT_FALSE(engine->is_llm_loaded());
    EXPECT_TRUE(engine->prompt_cache().empty());
    EXPECT_EQ(out.out(), "[Engine] KV Cache hit! Reusing 11 tokens.\n[Engine] Processing prompt: 100% (12/12 tokens)\n"
                         "[Engine] [LAZY UNLOAD] LLM freed. RAM restored.\n");
}

TEST(Generation, EndsAfter2048TokensAFullContextOrEosAndNeedsRoomForThePrompt) {
    TempDir dir;
    auto engine = make_engine(dir, "chat-phi3-loop", 4096);
    auto small = make_engine(dir, "chat-phi3-loop", 256);
    auto eos = make_engine(dir, "chat-phi3-eos");
    auto no_room = make_engine(dir, "chat-phi3", 512);  // 512 tokens kept back leave none
    CapturedOutput quiet;
    const std::vector<llama_token> script = engine->tokenize("lorem ipsum dolor sit amet", false);
    auto pieces = [&](size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i) text += engine->detokenize({script.at(i % script.size())});
        return text;
    };
    EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), true), pieces(2048));
    // Every position of the context is used; the token sampled from the last one still counts.
    const std::string filled = small->run_llm(Prompt().fixed(kPrompt), true);
    EXPECT_EQ(filled, pieces(256 - small->prompt_cache().size() + 1));
    EXPECT_EQ(eos->run_llm(Prompt().fixed(kPrompt), true), "");
    EXPECT_EQ(no_room->run_llm(Prompt().fixed(kPrompt), true), "[ERROR] Tokenization failed");
}

} // namespace
