// The answering path: the question prompt, where answers are cut, and the chat
// model's load/unload cycle and generation loop, driven by the generated
// scripted models (each replies with a fixed script to any prompt).

#include "engine/engine.h"
#include "engine/stop_strings.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(QuestionPrompt, GoldenText) {
    std::vector<SearchResult> results = {
        {"C:\\docs\\contrato.txt", "O contrato vence em março.", 2.5f, 0, 0},
        {"docs\\vazio.txt", "", 0.9f, 3, 0},
    };
    const std::string q = "Quando vence o 'contrato'?";
    const std::string expected =
        "<|system|>\n"
        "Você é um assistente estritamente LOCAL. Responda perguntas APENAS usando o CONTEXTO fornecido abaixo.\n"
        "REGRAS OBRIGATÓRIAS:\n"
        "1. Se o CONTEXTO não contiver a resposta, diga exatamente: 'Não encontrei nenhum arquivo que mencione "
        "Quando vence o 'contrato'?'.\n"
        "2. Se encontrar, comece com: 'Foram encontrados esses arquivos que falam sobre Quando vence o "
        "'contrato'?:' e então resuma os pontos relevantes.\n"
        "3. NÃO use seu conhecimento geral. Se não está no texto, você não sabe.\n"
        "4. Responda SEMPRE em PORTUGUÊS (Brasil).\n"
        "5. Seja extremamente conciso e direto. Sem introduções polidas.\n"
        "6. Cite os nomes dos arquivos das fontes.\n"
        "<|end|>\n"
        "<|user|>\n"
        "CONTEXTO DOS MEUS ARQUIVOS:\n"
        "--- Arquivo 1: C:\\docs\\contrato.txt ---\nO contrato vence em março.\n\n"
        "--- Arquivo 2: docs\\vazio.txt ---\n\n\n"
        "PERGUNTA: Quando vence o 'contrato'?\n"
        "<|end|>\n"
        "<|assistant|>\n";
    EXPECT_EQ(Engine::build_prompt(q, results).str(), expected);
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
    EXPECT_EQ(generate({"fim<", "|e", "nd|", ">resto"}), "fim");
    EXPECT_EQ(generate({"DOCUMENTO", ":"}), "");
    EXPECT_EQ(generate({"<|assistant|>", "mais"}), "");
    // One piece completes "Question:" (6th) and "###" (5th): cut at "###".
    EXPECT_EQ(generate({"A Question", ":###"}), "A Question:");
    // "USUÁRIO:" is 8th; "<|user|>" (3rd) completed later in the same piece wins.
    EXPECT_EQ(generate({"x USUÁRIO: y <|user|> z"}), "x USUÁRIO: y ");
    EXPECT_EQ(generate({"question: pergunta: usuario: ## # ```JSON"}), "question: pergunta: usuario: ## # ```JSON");
    EXPECT_EQ(generate({"ok ```json {}"}), "ok ");
}

const char *const kScript = "Resposta: o contrato vence em março de 2031.";
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
    // How the model renders a script: its tokens' pieces, concatenated.
    static std::string rendering(Engine &engine, const std::string &script) {
        return engine.detokenize(engine.tokenize(script, false));
    }
};

TEST_F(Generation, AnswersWithTheScriptReusesThePromptCacheAndUnloadsOnce) {
    auto engine = make_engine(model_path("chat-phi3"));
    std::string first;
    {
        CapturedOutput out;
        first = engine->run_llm(Prompt().fixed(kPrompt), true);
        EXPECT_HAS(out.out(), "[Engine] [LAZY LOAD] Loading LLM: " + model_path("chat-phi3") + "\n");
        EXPECT_HAS(out.out(), "[Engine] LLM loaded in RAM (peak ~1 GB estimated)\n");
        EXPECT_EQ(out.out().find("KV Cache hit"), std::string::npos);
    }
    EXPECT_EQ(first, rendering(*engine, kScript));
    EXPECT_HAS(first, "contrato vence em março de 2031.");

    const size_t n = engine->prompt_cache().size();
    {
        CapturedOutput out;
        EXPECT_TRUE(engine->load_llm());  // already loaded: nothing to do
        EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), true), first);
        EXPECT_HAS(out.out(), "[Engine] KV Cache hit! Reusing " + std::to_string(n - 1) + " tokens.\n");
        EXPECT_HAS(out.out(), "[Engine] Processing prompt: 100% (" + std::to_string(n) + "/" +
                                  std::to_string(n) + " tokens)\n");
        EXPECT_EQ(out.out().find("LAZY LOAD"), std::string::npos);
    }
    // At the configured temperature the script still wins; then the model goes, once.
    CapturedOutput out;
    EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), false), first);
    engine->unload_llm();
    EXPECT_EQ(engine->detokenize({1, 2, 3}), "");  // does not load
    EXPECT_FALSE(engine->is_llm_loaded());
    EXPECT_TRUE(engine->prompt_cache().empty());
    const std::string unload = "[Engine] [LAZY UNLOAD] LLM freed. RAM restored.\n";
    EXPECT_EQ(out.out().find(unload), out.out().size() - unload.size()) << out.out();  // the last line, once
}

TEST_F(Generation, StopsAfter2048TokensOrWhenTheContextIsFull) {
    auto engine = make_engine(model_path("chat-phi3-loop"), 4096);
    auto small = make_engine(model_path("chat-phi3-loop"), 256);
    CapturedOutput quiet;
    const std::vector<llama_token> script = engine->tokenize("lorem ipsum dolor sit amet", false);
    ASSERT_FALSE(script.empty());
    auto pieces = [&](size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i) text += engine->detokenize({script[i % script.size()]});
        return text;
    };
    EXPECT_EQ(engine->run_llm(Prompt().fixed(kPrompt), true), pieces(2048));
    // Every position of the context is used; the token sampled from the last one still counts.
    const std::string filled = small->run_llm(Prompt().fixed(kPrompt), true);
    EXPECT_EQ(filled, pieces(256 - small->prompt_cache().size() + 1));
}

TEST_F(Generation, LongPromptsKeepTheirHeadAndTail) {
    auto engine = make_engine(model_path("chat-phi3"));
    std::string prompt = "<|user|>\n";
    for (int i = 0; i < 3000; ++i) prompt += "palavra" + std::to_string(i) + " ";
    prompt += "PERGUNTA: fim?\n<|end|>\n<|assistant|>\n";
    CapturedOutput out;
    EXPECT_EQ(engine->run_llm(Prompt().fixed(prompt), true), rendering(*engine, kScript));
    EXPECT_HAS(out.err(), "[Engine] Prompt truncated to 1536 tokens\n");

    const std::vector<llama_token> full = ModelVocab("chat-phi3").tokens(prompt, true, true);
    const std::vector<llama_token> &kept = engine->prompt_cache();
    ASSERT_EQ(kept.size(), 1536u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 1000, full.begin()));
    EXPECT_TRUE(std::equal(kept.end() - 200, kept.end(), full.end() - 200));
}

TEST_F(Generation, NothingGeneratedForEosFirstOrNoRoomForThePrompt) {
    auto eos = make_engine(model_path("chat-phi3-eos"));
    auto small = make_engine(model_path("chat-phi3"), 512);  // 512 tokens kept back leave none
    CapturedOutput quiet;
    EXPECT_EQ(eos->run_llm(Prompt().fixed(kPrompt), true), "");
    EXPECT_EQ(small->run_llm(Prompt().fixed(kPrompt), true), "[ERROR] Tokenization failed");
}

TEST_F(Generation, LoadFailureIsAnsweredAndRetriedEveryCall) {
    const std::string missing = dir.str("missing.gguf");
    auto engine = make_engine(missing);
    for (int i = 0; i < 2; ++i) {
        CapturedOutput out;
        EXPECT_EQ(engine->run_llm(Prompt().fixed("x"), true), "[ERROR] Failed to load LLM. Check model path: " + missing);
        EXPECT_HAS(out.err(), "[Engine] LLM load failed: " + missing + "\n");
        EXPECT_EQ(out.out(), "[Engine] [LAZY LOAD] Loading LLM: " + missing + "\n");
    }
    EXPECT_TRUE(engine->tokenize("x", true).empty());
}

} // namespace
