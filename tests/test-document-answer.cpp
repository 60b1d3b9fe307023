// Answering from one indexed document: keyword boosts, and the choice and
// packing of chunks into a 2500-byte context.

#include "engine/document_context.h"
#include "engine/prompts.h"
#include "test_support.h"

namespace {

using namespace test_support;

TEST(DocumentRanking, KeywordsAndBoosts) {
    EXPECT_EQ(question_keywords(" né de\tcontrato\ncontrato ab"),
              (std::vector<std::string>{"né", "contrato", "contrato"}));
    const std::vector<std::string> one{"prazo"}, three{"prazo", "multa", "chave"};
    EXPECT_EQ(keyword_boost(three, "nada aqui"), 0.0f);
    EXPECT_EQ(keyword_boost(one, "os prazos"), 0.75f);  // found inside a longer word
    EXPECT_EQ(keyword_boost(three, "prazo multa"), 1.0f);
    EXPECT_EQ(keyword_boost({"prazo", "prazo"}, "prazo"), 1.0f);
}

// Chunks whose pieces "[Página 1]: " + text + "\n\n" have the given byte sizes.
std::vector<Chunk> chunks_of_piece_sizes(const std::vector<size_t> &sizes) {
    std::vector<Chunk> chunks;
    for (size_t size : sizes)
        chunks.push_back({static_cast<int32_t>(chunks.size()), 1, "", std::string(size - 15, 'a' + chunks.size())});
    return chunks;
}

TEST(DocumentRanking, PacksTheBestTenWithinTheBudgetInDocumentOrder) {
    const std::vector<Chunk> twelve = chunks_of_piece_sizes(std::vector<size_t>(12, 100));
    std::vector<ScoredChunk> scored;
    for (const Chunk &c : twelve) scored.push_back({&c, c.chunk_id == 0 || c.chunk_id == 5 ? 0.1f : 1.0f + c.chunk_id});
    DocumentContext ctx = pack_document_context(scored);
    EXPECT_EQ(ctx.selected, 10u);
    EXPECT_EQ(ctx.text.substr(0, 18), "[Página 1]: bbbbb");  // chunk 0 is out, chunk 1 leads
    EXPECT_EQ(ctx.text.find("ff"), std::string::npos);
    EXPECT_LT(ctx.text.find("kk"), ctx.text.find("ll"));

    // 2400 + 100 is exactly the budget; the later 50 would fit but selection has stopped at 200.
    const std::vector<Chunk> fit = chunks_of_piece_sizes({100, 2400, 200, 50});
    ctx = pack_document_context({{&fit[3], 0.2f}, {&fit[1], 0.9f}, {&fit[0], 0.8f}, {&fit[2], 0.5f}});
    EXPECT_EQ(ctx.text.size(), 2500u);
    EXPECT_EQ(ctx.selected, 2u);
    EXPECT_FALSE(ctx.limit_reached);
    EXPECT_EQ(ctx.text[13], 'a');
    // A first chunk beyond the budget is cut to it.
    const std::vector<Chunk> big = chunks_of_piece_sizes({3000});
    ctx = pack_document_context({{&big[0], 1.0f}});
    EXPECT_EQ(ctx.text, "[Página 1]: " + std::string(2500 - 13, 'a'));
    EXPECT_TRUE(ctx.limit_reached);
}

} // namespace
