// Embedding texts with the generated bag-of-words model.

#include <numeric>

#include "engine/model_loading.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(Embedding, UnitLengthAndCut) {
    TempDir dir;
    CapturedOutput quiet;  // outlives the engine, so its shutdown line is caught too
    Engine engine(engine_config(dir));
    EXPECT_TRUE(engine.embed("texto").empty());  // no model yet
    ASSERT_TRUE(engine.init());
    // A text past the model's context is cut, not fatal, and leaves nothing behind;
    // special tokens alone, and stop words alone, still embed.
    std::string long_text;
    for (int i = 0; i < 2000; ++i) long_text += "palavra" + std::to_string(i) + " ";
    for (const std::string &t : {long_text, std::string(), std::string("de o a que"), std::string("o contrato")}) {
        const std::vector<float> v = engine.embed(t);
        ASSERT_EQ(v.size(), 384u);
        EXPECT_NEAR(std::inner_product(v.begin(), v.end(), v.begin(), 0.0f), 1.0f, 1e-5f) << t;
    }
}

// The host's thread count also runs the batches (llama.cpp would use 4).
TEST(Embedding, HostThreadCountRunsBatches) {
    CapturedOutput quiet;
    llama_model *model = model_loading::load_on_cpu(embed_model());
    llama_context *ctx = model_loading::new_context(model, 512, 512, 3, true);
    EXPECT_EQ(llama_n_threads_batch(ctx), 3);
    model_loading::free_model(ctx, model);
}

} // namespace
