// Word-window chunking: window and overlap from the configuration, what
// separates words, and the windows at the boundaries of the default sizes.

#include "engine/engine.h"
#include "test_support.h"

using test_support::TempDir;

namespace {

// "w1 w2 ... wn"
std::string words(int first, int last) {
    std::string out;
    for (int k = first; k <= last; ++k) {
        if (k > first) out += ' ';
        out += "w" + std::to_string(k);
    }
    return out;
}

class ChunkingTest : public ::testing::Test {
protected:
    std::vector<std::string> chunk(const std::string &text, int32_t chunk_size = 512,
                                   int32_t chunk_overlap = 64) {
        EngineConfig config;
        config.data_dir = dir.str("data");
        config.chunk_size = chunk_size;
        config.chunk_overlap = chunk_overlap;
        Engine engine(config);
        return engine.chunk_text(text);
    }
    TempDir dir;
};

using Chunks = std::vector<std::string>;

} // namespace

TEST_F(ChunkingTest, WindowsAtTheDefaultSizeBoundaries) {
    EXPECT_EQ(chunk(words(1, 1)), Chunks{"w1"});
    EXPECT_EQ(chunk(words(1, 256)), Chunks{words(1, 256)});
    EXPECT_EQ(chunk(words(1, 257)), (Chunks{words(1, 256), words(225, 257)}));
    EXPECT_EQ(chunk(words(1, 480)), (Chunks{words(1, 256), words(225, 480)}));
    EXPECT_EQ(chunk(words(1, 481)), (Chunks{words(1, 256), words(225, 480), words(449, 481)}));
}

TEST_F(ChunkingTest, LongTextCoveredByOverlappingWindows) {
    const int n = 5000;
    const Chunks chunks = chunk(words(1, n));
    ASSERT_EQ(chunks.size(), 1u + (n - 256 + 223) / 224);
    for (size_t k = 0; k < chunks.size(); ++k) {
        const int first = 224 * static_cast<int>(k) + 1;
        EXPECT_EQ(chunks[k], words(first, std::min(first + 255, n))) << "chunk " << k;
    }
}

TEST_F(ChunkingTest, OnlyAsciiWhiteSpaceSeparatesWords) {
    EXPECT_EQ(chunk(""), Chunks{});
    EXPECT_EQ(chunk(" \t\n\v\f\r  \n"), Chunks{});
    EXPECT_EQ(chunk("a  b\n\tc"), Chunks{"a b c"});
    EXPECT_EQ(chunk("\r\n  lead\vand\ftrail \t"), Chunks{"lead and trail"});
    EXPECT_EQ(chunk("semespacos,pontuação-só."), Chunks{"semespacos,pontuação-só."});
    EXPECT_EQ(chunk("um\xC2\xA0" "dois tr\xC3\xAAs"), Chunks{"um\xC2\xA0" "dois tr\xC3\xAAs"});

    const std::string with_zero("a\0b c", 5);
    const Chunks zero_chunks = chunk(with_zero);
    ASSERT_EQ(zero_chunks.size(), 1u);
    EXPECT_EQ(zero_chunks[0], with_zero);

    // A zero byte is one word of its own when it stands between separators.
    EXPECT_EQ(chunk(std::string("x \0 y", 5), 4, 0), (Chunks{"x " + std::string(1, '\0'), "y"}));
}

TEST_F(ChunkingTest, WindowAndOverlapAreHalvedConfiguration) {
    // chunk_size 11 -> 5 words; overlap 3 -> 1 word; step 4.
    EXPECT_EQ(chunk(words(1, 13), 11, 3), (Chunks{words(1, 5), words(5, 9), words(9, 13)}));
    // overlap 1 halves to none.
    EXPECT_EQ(chunk(words(1, 7), 6, 1), (Chunks{words(1, 3), words(4, 6), words(7, 7)}));
    // The window ends exactly at the last word: no trailing chunk of overlap only.
    EXPECT_EQ(chunk(words(1, 9), 10, 2), (Chunks{words(1, 5), words(5, 9)}));
}

TEST_F(ChunkingTest, OverlapNotSmallerThanWindowIsDropped) {
    const Chunks consecutive{words(1, 5), words(6, 10), words(11, 12)};
    EXPECT_EQ(chunk(words(1, 12), 10, 10), consecutive);
    EXPECT_EQ(chunk(words(1, 12), 10, 11), consecutive);
    EXPECT_EQ(chunk(words(1, 12), 10, 1000), consecutive);
}

TEST_F(ChunkingTest, WindowBelowOneWordGivesOneChunkOfAllWords) {
    for (const int32_t size : {1, 0, -1, -600}) {
        EXPECT_EQ(chunk("  a b\n c ", size, 64), Chunks{"a b c"}) << "chunk_size " << size;
        EXPECT_EQ(chunk(" \n ", size, 64), Chunks{}) << "chunk_size " << size;
    }
    EXPECT_EQ(chunk(words(1, 3), 2, 0), (Chunks{"w1", "w2", "w3"}));
}
