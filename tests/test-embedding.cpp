// Embedding texts with the generated bag-of-words model.

#include <cmath>

#include "engine/engine.h"
#include "test_support.h"

namespace {

using test_support::CapturedOutput;
using test_support::TempDir;

float dot(const std::vector<float> &a, const std::vector<float> &b) {
    float s = 0;
    for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
    return s;
}

class Embedding : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir();
        EngineConfig config;
        config.embedding_model_path = test_support::embed_model();
        config.index_path = dir->str("index.bin");
        config.data_dir = dir->str("data");
        config.n_threads = 2;
        engine = new Engine(config);
        CapturedOutput quiet;
        ASSERT_TRUE(engine->init());
    }
    static void TearDownTestSuite() {
        CapturedOutput quiet;
        delete engine;
        delete dir;
    }
    static TempDir *dir;
    static Engine *engine;
};
TempDir *Embedding::dir = nullptr;
Engine *Embedding::engine = nullptr;

TEST(EmbeddingUninitialised, GivesNothing) {
    TempDir dir;
    EngineConfig config;
    config.data_dir = dir.str("data");
    Engine engine(config);
    EXPECT_TRUE(engine.embed("texto").empty());
}

TEST_F(Embedding, UnitLengthAndDeterministic) {
    const std::vector<float> a = engine->embed("o contrato de aluguel vence em março");
    ASSERT_EQ(a.size(), 384u);
    EXPECT_NEAR(dot(a, a), 1.0f, 1e-5f);
    EXPECT_EQ(engine->embed("o contrato de aluguel vence em março"), a);
}

TEST_F(Embedding, NoStateCarriesOverBetweenTexts) {
    const std::vector<float> alone = engine->embed("relatório de manutenção do elevador");
    engine->embed(std::string(3000, 'x') + " outra coisa qualquer");
    EXPECT_EQ(engine->embed("relatório de manutenção do elevador"), alone);
}

TEST_F(Embedding, SharedWordsMeanHigherSimilarity) {
    const auto q = engine->embed("quando vence o contrato de aluguel");
    const auto related = engine->embed("o contrato de aluguel vence em março de 2025");
    const auto unrelated = engine->embed("a bomba hidráulica foi trocada em agosto");
    EXPECT_GT(dot(q, related), 0.45f);
    EXPECT_LT(dot(q, unrelated), dot(q, related) - 0.2f);
}

TEST_F(Embedding, LongTextsAreCutNotFatal) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "palavra" + std::to_string(i) + " ";
    const auto e = engine->embed(text);
    ASSERT_EQ(e.size(), 384u);
    EXPECT_NEAR(dot(e, e), 1.0f, 1e-5f);
}

TEST_F(Embedding, EmptyAndStopWordTextsStillEmbed) {
    // The tokenizer adds its special tokens even to an empty text.
    EXPECT_EQ(engine->embed("").size(), 384u);
    const auto stop = engine->embed("de o a que");
    ASSERT_EQ(stop.size(), 384u);
    EXPECT_NEAR(dot(stop, stop), 1.0f, 1e-5f);
}

} // namespace
