// The hybrid search and the question normaliser.

#include <set>

#include "store/text_normalize.h"
#include "test_support.h"

namespace {

using namespace test_support;

// A vector whose dot product with unit(0) is exactly `along`.
std::vector<float> at(float along) {
    std::vector<float> v = unit(1);
    v[0] = along;
    return v;
}

class Search : public ::testing::Test {
protected:
    int32_t add(const std::vector<float> &v, const std::string &text) {
        return store->add(v, Chunk{0, 1, "/d/doc.txt/", text});
    }
    std::vector<ChunkHit> search(const std::vector<float> &q, int32_t top_k, const char *question) {
        CapturedOutput quiet;
        return store->search(q, top_k, question);
    }
    StoreFiles files;
    std::unique_ptr<VectorStore> store = files.open();
};

TEST(NormalizeText, Table) {
    const std::pair<const char *, const char *> cases[] = {
        {"e-mail", "e mail"}, {"O'Brien", "obrien"}, {"3,50.", "350"}, {"CONTRATO_2024", "contrato 2024"},
        {"\xC3\x87" "AO", "\xC3\x87" "ao"}, {"a\tB?!", "a\tb  "}, {"{~}", "   "},
    };
    for (const auto &[in, out] : cases) EXPECT_EQ(normalize_text(in), out) << in;
}

TEST_F(Search, TextMatchesAddTwoAndOutrankVectorOnlyHits) {
    add(at(0.99f), "nothing relevant");
    add(unit(3), "shared phrase");
    add(at(0.9f), "shared phrase");
    // Rows without the searched words, so that bm25 ranks a match above 0.
    for (int i = 0; i < 6; ++i) add(unit(4), "filler " + std::to_string(i));
    const auto hits = search(unit(0), 10, "shared");
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].label, 2); // both: 0.9 + 2 + 0.1 r, above the same text far away
    EXPECT_EQ(hits[1].label, 1); // text only: 2 + 0.1 r
    EXPECT_EQ(hits[2].label, 0);
    EXPECT_NEAR(hits[2].score, 0.99f, 1e-6);
}

TEST_F(Search, TheTwentyBestTextMatchesTakePart) {
    for (int i = 0; i < 25; ++i) add(unit(1), i < 20 ? "alpha and other words" : "alpha alpha");
    for (int i = 0; i < 60; ++i) add(unit(4), "filler");  // a rare word ranks by how often it occurs
    const auto hits = search(unit(0), 100, "alpha");
    ASSERT_EQ(hits.size(), 20u);
    std::set<int32_t> best;
    for (size_t i = 0; i < 5; ++i) best.insert(hits[i].label);
    EXPECT_EQ(best, (std::set<int32_t>{20, 21, 22, 23, 24}));
}

TEST_F(Search, VectorHitsAboveAStrictThresholdBestFirst) {
    for (float along : {0.9f, 0.85f, 0.8f, 0.4501f, 0.45f, 0.2f}) add(at(along), "a o é");
    // Words under three bytes leave no text query.
    const auto hits = search(unit(0), 10, "a o é");
    ASSERT_EQ(hits.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(hits[i].label, static_cast<int32_t>(i));
    EXPECT_TRUE(search(std::vector<float>(9, 0.1f), 3, "").empty());
    for (int i = 0; i < 4; ++i) add(unit(1), "gamma");
    EXPECT_EQ(search(unit(0), -1, "gamma").size(), 4u);  // no vector candidates, and nothing is cut
}

} // namespace
