// The chat model's load/unload cycle and the generation loop, driven by the
// generated scripted models (each replies with a fixed script to any prompt).

#include <fstream>
#include <string>

#include "engine/engine.h"
#include "test_support.h"

namespace {

using test_support::CapturedOutput;
using test_support::TempDir;

const char *const kScript = "Resposta: o contrato vence em março de 2031.";
const char *const kLoopScript = "lorem ipsum dolor sit amet";

class Generation : public ::testing::Test {
protected:
    TempDir dir;

    std::unique_ptr<Engine> make_engine(const std::string &model, int n_ctx = 2048) {
        EngineConfig config;
        config.llm_model_path = model;
        config.embedding_model_path = test_support::embed_model();
        config.index_path = dir.str("index.bin");
        config.data_dir = dir.str("data");
        config.n_ctx = n_ctx;
        config.n_threads = 2;
        auto engine = std::make_unique<Engine>(config);
        CapturedOutput quiet;
        EXPECT_TRUE(engine->init());
        return engine;
    }

    // How the model renders a script: its tokens' pieces, concatenated.
    static std::string rendering(Engine &engine, const std::string &script) {
        return engine.detokenize(engine.tokenize(script, false));
    }

    static std::string long_prompt(int words) {
        std::string p = "<|user|>\n";
        for (int i = 0; i < words; ++i) p += "palavra" + std::to_string(i) + " ";
        return p + "PERGUNTA: fim?\n<|end|>\n<|assistant|>\n";
    }
};

TEST_F(Generation, AnswersWithTheScriptAndReusesThePromptCache) {
    auto engine = make_engine(test_support::chat_model("chat-phi3"));
    const std::string prompt = "<|user|>\nQuando vence o contrato?<|end|>\n<|assistant|>\n";
    std::string first;
    {
        CapturedOutput out;
        first = engine->run_llm(prompt, true);
        EXPECT_NE(out.out().find("[Engine] [LAZY LOAD] Loading LLM: "), std::string::npos);
        EXPECT_NE(out.out().find("[Engine] LLM loaded in RAM (peak ~1 GB estimated)\n"), std::string::npos);
        EXPECT_EQ(out.out().find("KV Cache hit"), std::string::npos);
    }
    EXPECT_EQ(first, rendering(*engine, kScript));
    EXPECT_NE(first.find("contrato vence em março de 2031."), std::string::npos);

    const size_t n = engine->prompt_cache().size();
    CapturedOutput out;
    EXPECT_EQ(engine->run_llm(prompt, true), first);
    EXPECT_NE(out.out().find("[Engine] KV Cache hit! Reusing " + std::to_string(n - 1) + " tokens.\n"),
              std::string::npos);
    EXPECT_NE(out.out().find("[Engine] Processing prompt: 100% (" + std::to_string(n) + "/" +
                             std::to_string(n) + " tokens)\n"),
              std::string::npos);
    EXPECT_EQ(out.out().find("LAZY LOAD"), std::string::npos);
}

TEST_F(Generation, SameAnswerAtTheConfiguredTemperature) {
    auto engine = make_engine(test_support::chat_model("chat-phi3"));
    CapturedOutput quiet;
    const std::string expected = rendering(*engine, kScript);
    EXPECT_EQ(engine->run_llm("<|user|>\nOi<|end|>\n<|assistant|>\n", false), expected);
    EXPECT_FALSE(engine->is_llm_loaded());
    EXPECT_TRUE(engine->prompt_cache().empty());
}

TEST_F(Generation, EndOfSequenceFirstGivesEmptyAnswer) {
    auto engine = make_engine(test_support::chat_model("chat-phi3-eos"));
    CapturedOutput quiet;
    EXPECT_EQ(engine->run_llm("<|user|>\nOi<|end|>\n<|assistant|>\n", true), "");
}

TEST_F(Generation, StopsAfter2048Tokens) {
    auto engine = make_engine(test_support::chat_model("chat-phi3-loop"), 4096);
    CapturedOutput quiet;
    const std::vector<llama_token> script = engine->tokenize(kLoopScript, false);
    ASSERT_FALSE(script.empty());
    std::string expected;
    for (int i = 0; i < 2048; ++i) expected += engine->detokenize({script[i % script.size()]});
    EXPECT_EQ(engine->run_llm("<|user|>\nOi<|end|>\n<|assistant|>\n", true), expected);
}

TEST_F(Generation, LongPromptsKeepTheirHeadAndTail) {
    auto engine = make_engine(test_support::chat_model("chat-phi3"));
    const std::string prompt = long_prompt(3000);
    CapturedOutput out;
    const std::string answer = engine->run_llm(prompt, true);
    EXPECT_NE(out.err().find("[Engine] Prompt truncated to 1536 tokens\n"), std::string::npos);
    EXPECT_EQ(answer, rendering(*engine, kScript));

    const std::vector<llama_token> full = engine->tokenize(prompt, true);
    const std::vector<llama_token> &kept = engine->prompt_cache();
    ASSERT_EQ(kept.size(), 1536u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 1000, full.begin()));
    EXPECT_TRUE(std::equal(kept.end() - 200, kept.end(), full.end() - 200));
}

TEST_F(Generation, PromptCapOfZeroIsATokenizationFailure) {
    auto engine = make_engine(test_support::chat_model("chat-phi3"), 512);
    CapturedOutput quiet;
    EXPECT_EQ(engine->run_llm("<|user|>\nOi<|end|>\n<|assistant|>\n", true), "[ERROR] Tokenization failed");
}

TEST_F(Generation, LoadFailureIsAnsweredAndRetriedEveryCall) {
    const std::string missing = dir.str("missing.gguf");
    auto engine = make_engine(missing);
    for (int i = 0; i < 2; ++i) {
        CapturedOutput out;
        EXPECT_EQ(engine->run_llm("x", true), "[ERROR] Failed to load LLM. Check model path: " + missing);
        EXPECT_NE(out.err().find("[Engine] LLM load failed: " + missing + "\n"), std::string::npos);
        EXPECT_EQ(out.out(), "[Engine] [LAZY LOAD] Loading LLM: " + missing + "\n");
    }
    EXPECT_TRUE(engine->tokenize("x", true).empty());
}

TEST_F(Generation, LoadAndUnloadAreIdempotent) {
    auto engine = make_engine(test_support::chat_model("chat-phi3"));
    {
        CapturedOutput out;
        EXPECT_EQ(engine->detokenize({1, 2, 3}), "");  // does not load
        engine->unload_llm();
        EXPECT_EQ(out.out(), "");
    }
    EXPECT_FALSE(engine->is_llm_loaded());
    {
        CapturedOutput quiet;
        ASSERT_TRUE(engine->load_llm());
    }
    CapturedOutput out;
    EXPECT_TRUE(engine->load_llm());
    engine->unload_llm();
    engine->unload_llm();
    EXPECT_EQ(out.out(), "[Engine] [LAZY UNLOAD] LLM freed. RAM restored.\n");
}

long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST_F(Generation, UnloadGivesTheMemoryBack) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory";
#endif
    auto engine = make_engine(test_support::chat_model("chat-qwen2"), 8192);
    CapturedOutput quiet;
    const long before = resident_kib();
    engine->run_llm("<|im_start|>user\nOi<|im_end|>\n<|im_start|>assistant\n", true);
    const long loaded = resident_kib();
    engine->unload_llm();
    const long after = resident_kib();
    EXPECT_GT(loaded - before, 10 * 1024) << "loading should cost memory";
    EXPECT_LT(after, before + (loaded - before) / 2);
}

} // namespace
