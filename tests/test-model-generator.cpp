// The test-model generator: byte-exact regeneration. What the models do is
// proven by the engine tests that use them.

#include "model_gen/model_gen.h"
#include "test_support.h"

namespace {

using namespace test_support;

const fs::path kVocabDir = RAG_VOCAB_DIR;

TEST(ModelGen, RegenerationGivesTheFixtureBytesAndSkipsIdenticalFiles) {
    TempDir dir;
    const std::string bge = (kVocabDir / "ggml-vocab-bert-bge.gguf").string();
    const std::string embed = dir.str("embed.gguf");
    const model_gen::ChatModelRecipe request{"qwen2", (kVocabDir / "ggml-vocab-qwen2.gguf").string(),
                                        dir.str("chat-qwen2.gguf"), model_gen::kAnswerScript, false};
    CapturedOutput quiet;
    EXPECT_TRUE(model_gen::make_embed_model(bge, embed));
    EXPECT_TRUE(model_gen::make_chat_model(request));
    EXPECT_TRUE(read_file(embed) == read_file(embed_model()));
    EXPECT_TRUE(read_file(request.out_path) == read_file(model_path("chat-qwen2")));
    EXPECT_FALSE(model_gen::make_embed_model(bge, embed));
    EXPECT_FALSE(model_gen::make_chat_model(request));
}

} // namespace
