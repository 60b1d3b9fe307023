// The answering path: the question prompt, where answers are cut, and the chat
// model's load/unload cycle and generation loop, driven by the generated
// scripted models (each replies with a fixed script to any prompt).

#include "engine/stop_strings.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(QuestionPrompt, GoldenText) {
    const std::string expected =
        "<|system|>\nVocê é um assistente estritamente LOCAL. Responda perguntas APENAS usando o CONTEXTO fornecido "
        "abaixo.\nREGRAS OBRIGATÓRIAS:\n1. Se o CONTEXTO não contiver a resposta, diga exatamente: 'Não encontrei "
        "nenhum arquivo que mencione Quando vence o 'contrato'?'.\n2. Se encontrar, comece com: 'Foram encontrados "
        "esses arquivos que falam sobre Quando vence o 'contrato'?:' e então resuma os pontos relevantes.\n"
        "3. NÃO use seu conhecimento geral. Se não está no texto, você não sabe.\n4. Responda SEMPRE em PORTUGUÊS "
        "(Brasil).\n5. Seja extremamente conciso e direto. Sem introduções polidas.\n6. Cite os nomes dos arquivos "
        "das fontes.\n<|end|>\n<|user|>\nCONTEXTO DOS MEUS ARQUIVOS:\n--- Arquivo 1: C:\\docs\\contrato.txt ---\n"
        "O contrato vence em março.\n\n--- Arquivo 2: docs\\vazio.txt ---\n\n\nPERGUNTA: Quando vence o 'contrato'?\n"
        "<|end|>\n<|assistant|>\n";
    const std::vector<SearchResult> results = {{"C:\\docs\\contrato.txt", "O contrato vence em março.", 2.5f, 0, 0},
                                               {"docs\\vazio.txt", "", 0.9f, 3, 0}};
    EXPECT_EQ(Engine::build_prompt("Quando vence o 'contrato'?", results).str(), expected);
}

// Appends pieces one by one as the generation loop does; returns the answer.
std::string generate(std::initializer_list<std::string> pieces) {
    std::string answer;
    for (const std::string &piece : pieces) {
        const size_t before = answer.size();
        answer += piece;
        const size_t cut = find_stop_cut(answer, before);
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

class Generation : public ::testing::Test {
protected:
    TempDir dir;

    std::unique_ptr<Engine> make_engine(const std::string &model, int n_ctx = 2048) {
        EngineConfig config = engine_config(dir, model);
        config.n_ctx = n_ctx;
        auto engine = std::make_unique<Engine>(config);
        CapturedOutput quiet;
        EXPECT_TRUE(engine->init());
        return engine;
    }
};

TEST_F(Generation, AnswersWithTheScriptReusesThePromptCacheAndUnloadsOnce) {
    auto engine = make_engine(model_path("chat-phi3"));
    {
        CapturedOutput quiet;
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

TEST_F(Generation, EndsAfter2048TokensAFullContextOrEosAndNeedsRoomForThePrompt) {
    auto engine = make_engine(model_path("chat-phi3-loop"), 4096);
    auto small = make_engine(model_path("chat-phi3-loop"), 256);
    auto eos = make_engine(model_path("chat-phi3-eos"));
    auto no_room = make_engine(model_path("chat-phi3"), 512);  // 512 tokens kept back leave none
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

TEST_F(Generation, LongPromptsKeepTheirHeadAndTail) {
    auto engine = make_engine(model_path("chat-phi3"));
    std::string prompt = "<|user|>\n";
    for (int i = 0; i < 3000; ++i) prompt += "palavra" + std::to_string(i) + " ";
    prompt += "PERGUNTA: fim?\n<|end|>\n<|assistant|>\n";
    {
        CapturedOutput quiet;
        EXPECT_EQ(engine->run_llm(Prompt().fixed(prompt), true), kScript);
    }
    const std::vector<llama_token> full = ModelVocab("chat-phi3").tokens(prompt, true, true);
    const std::vector<llama_token> &kept = engine->prompt_cache();
    ASSERT_EQ(kept.size(), 1536u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 1000, full.begin()));
    EXPECT_TRUE(std::equal(kept.end() - 200, kept.end(), full.end() - 200));
}

} // namespace
