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

TEST(Embedding, UnitLengthDeterministicCutAndSimilar) {
    TempDir dir;
    CapturedOutput quiet;  // outlives the engine, so its shutdown line is caught too
    Engine engine(engine_config(dir));
    EXPECT_TRUE(engine.embed("texto").empty());  // no model yet
    ASSERT_TRUE(engine.init());

    const std::string text = "o contrato de aluguel vence em março";
    const std::vector<float> a = engine.embed(text);
    ASSERT_EQ(a.size(), 384u);
    EXPECT_NEAR(dot(a, a), 1.0f, 1e-5f);
    // A text past the model's context is cut, not fatal, and leaves nothing behind.
    std::string long_text;
    for (int i = 0; i < 2000; ++i) long_text += "palavra" + std::to_string(i) + " ";
    const std::vector<float> cut = engine.embed(long_text);
    ASSERT_EQ(cut.size(), 384u);
    EXPECT_NEAR(dot(cut, cut), 1.0f, 1e-5f);
    EXPECT_EQ(engine.embed(text), a);
    // Special tokens alone, and stop words alone, still embed.
    EXPECT_EQ(engine.embed("").size(), 384u);
    const std::vector<float> stop = engine.embed("de o a que");
    EXPECT_NEAR(dot(stop, stop), 1.0f, 1e-5f);

    const auto q = engine.embed("quando vence o contrato de aluguel");
    const auto unrelated = engine.embed("a bomba hidráulica foi trocada em agosto");
    EXPECT_GT(dot(q, a), 0.45f);
    EXPECT_LT(dot(q, unrelated), dot(q, a) - 0.2f);
}

// The host's thread count governs batches too, and the result does not
// depend on it: the kernels split rows, not sums.
TEST(Embedding, HostThreadCountRunsBatchesWithTheSameResult) {
    CapturedOutput quiet;
    llama_backend_init();
    llama_model *model = model_loading::load_on_cpu(embed_model());
    ASSERT_NE(model, nullptr);
    llama_context *ctx = model_loading::new_context(model, 512, 512, 3, true);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(llama_n_threads(ctx), 3);
    EXPECT_EQ(llama_n_threads_batch(ctx), 3);
    model_loading::free_model(ctx, model);

    std::vector<float> first;
    for (int threads : {1, 4, 8}) {
        TempDir dir;
        EngineConfig config = engine_config(dir);
        config.n_threads = threads;
        Engine engine(config);
        ASSERT_TRUE(engine.init());
        const std::vector<float> v = engine.embed("o contrato de aluguel do galpão vence em março de 2031");
        ASSERT_EQ(v.size(), 384u);
        if (first.empty()) first = v;
        EXPECT_EQ(v, first) << threads << " threads";
    }
    llama_backend_free();
}

} // namespace
