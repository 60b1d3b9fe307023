// Embedding texts with the generated bag-of-words model.

#include "engine/engine.h"
#include "engine/model_loading.h"
#include "test_support.h"

namespace {

using namespace test_support;

float dot(const std::vector<float> &a, const std::vector<float> &b) {
    float s = 0;
    for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
    return s;
}

TEST(Embedding, UnitLengthCutAndSimilar) {
    TempDir dir;
    CapturedOutput quiet;  // outlives the engine, so its shutdown line is caught too
    Engine engine(engine_config(dir));
    EXPECT_TRUE(engine.embed("texto").empty());  // no model yet
    ASSERT_TRUE(engine.init());
    // A text past the model's context is cut, not fatal, and leaves nothing behind;
    // special tokens alone, and stop words alone, still embed.
    const std::string text = "o contrato de aluguel vence em março";
    std::string long_text;
    for (int i = 0; i < 2000; ++i) long_text += "palavra" + std::to_string(i) + " ";
    const std::vector<float> a = engine.embed(text);
    for (const std::string &t : {long_text, std::string(), std::string("de o a que"), text}) {
        const std::vector<float> v = engine.embed(t);
        ASSERT_EQ(v.size(), 384u);
        EXPECT_NEAR(dot(v, v), 1.0f, 1e-5f) << t;
    }
    const auto q = engine.embed("quando vence o contrato de aluguel");
    EXPECT_GT(dot(q, a), 0.45f);
    EXPECT_LT(dot(q, engine.embed("a bomba hidráulica foi trocada em agosto")), dot(q, a) - 0.2f);
}

// The host's thread count also runs the batches (llama.cpp would use 4), and
// the vectors do not depend on it: the kernels split rows, not sums.
TEST(Embedding, HostThreadCountRunsBatchesWithTheSameResult) {
    CapturedOutput quiet;
    std::vector<float> first;
    for (int threads : {1, 3, 8}) {
        TempDir dir;
        EngineConfig config = engine_config(dir);
        config.n_threads = threads;
        Engine engine(config);
        ASSERT_TRUE(engine.init());
        llama_model *model = model_loading::load_on_cpu(embed_model());
        llama_context *ctx = model_loading::new_context(model, 512, 512, threads, true);
        EXPECT_EQ(llama_n_threads_batch(ctx), threads);
        model_loading::free_model(ctx, model);
        const std::vector<float> v = engine.embed("o contrato de aluguel do galpão vence em março de 2031");
        if (first.empty()) first = v;
        EXPECT_EQ(v, first) << threads << " threads";
    }
}

} // namespace
