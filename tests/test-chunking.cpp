// Word-window chunking: window and overlap from the configuration, what
// separates words, and the windows at the boundaries of the default sizes.

#include "test_support.h"

namespace {

using Chunks = std::vector<std::string>;

// "w<first> ... w<last>"
std::string words(int first, int last) {
    std::string out;
    for (int k = first; k <= last; ++k) out += (k > first ? " w" : "w") + std::to_string(k);
    return out;
}

Chunks chunk(const std::string &text, int32_t chunk_size = 512, int32_t chunk_overlap = 64) {
    test_support::TempDir dir;
    EngineConfig config = test_support::engine_config(dir);
    config.chunk_size = chunk_size;
    config.chunk_overlap = chunk_overlap;
    return Engine(config).chunk_text(text);
}

TEST(Chunking, OnlyAsciiWhiteSpaceSeparatesWords) {
    for (const char *blank : {"", " \t\n\v\f\r  \n"}) EXPECT_EQ(chunk(blank), Chunks{});
    EXPECT_EQ(chunk("\r\n  lead\vand\ftrail \t  b\n\tc"), Chunks{"lead and trail b c"});
    // No-break space, punctuation and zero bytes stay inside words.
    EXPECT_EQ(chunk("um\xC2\xA0" "dois, tr\xC3\xAAs-só."), Chunks{"um\xC2\xA0" "dois, tr\xC3\xAAs-só."});
    EXPECT_EQ(chunk(std::string("a\0b c", 5)), Chunks{std::string("a\0b c", 5)});
}

TEST(Chunking, WindowAndOverlapAreHalvedConfiguration) {
    // The defaults, 512 and 64: windows of 256 words that share 32.
    EXPECT_EQ(chunk(words(1, 256)), Chunks{words(1, 256)});
    EXPECT_EQ(chunk(words(1, 257)), (Chunks{words(1, 256), words(225, 257)}));
    // chunk_size 11 -> 5 words; overlap 3 -> 1 word; step 4.
    EXPECT_EQ(chunk(words(1, 13), 11, 3), (Chunks{words(1, 5), words(5, 9), words(9, 13)}));
    // An overlap not smaller than the window is dropped.
    for (const int32_t overlap : {10, 1000})
        EXPECT_EQ(chunk(words(1, 12), 10, overlap), (Chunks{words(1, 5), words(6, 10), words(11, 12)}));
    // A window below one word gives one chunk of all words.
    for (const int32_t size : {1, -600}) EXPECT_EQ(chunk("  a b\n c ", size), Chunks{"a b c"}) << size;
}

} // namespace
