// The three ways text results reach the host's buffer, at their boundaries.

#include <tuple>

#include "api/buffer_copy.h"
#include "test_support.h"

namespace {

const char *const kTruncated = "Response truncated \xE2\x80\x94 increase buf_size";
constexpr int kSmall = RAG_ERR_BUFFER_TOO_SMALL;

enum Rule { kEllipsis, kTruncating, kWholeOrNothing };
using Result = std::tuple<int, std::string, std::string>;  // code, buffer, last error

// Copies into size bytes followed by two guard bytes, on a handle whose last
// error was "previous".
Result copy(Rule rule, const std::string &text, int size) {
    rag_handle h;
    set_last_error(&h, "previous");
    std::string buf(static_cast<size_t>(size) + 2, 'x');
    const int rc = rule == kEllipsis     ? copy_with_ellipsis(&h, text, buf.data(), size)
                   : rule == kTruncating ? copy_truncating(&h, text, buf.data(), size)
                                         : copy_whole_or_nothing(text, buf.data(), size);
    return {rc, buf, rag_last_error(&h)};
}

std::string nul(size_t n) { return std::string(n, '\0'); }

TEST(BufferCopy, TextThatFitsIsNulPaddedAndNothingIsWrittenPastTheEnd) {
    for (Rule rule : {kEllipsis, kTruncating, kWholeOrNothing}) {
        EXPECT_EQ(copy(rule, "abc", 10), Result(RAG_OK, "abc" + nul(7) + "xx", "previous"));
        // 10 bytes with its NUL
        EXPECT_EQ(copy(rule, "abcdefghi", 10), Result(RAG_OK, "abcdefghi" + nul(1) + "xx", "previous"));
    }
    // One byte too long (the other two rules meet this through the C API, in test-api-answering).
    EXPECT_EQ(copy(kWholeOrNothing, "abcdefghij", 10), Result(kSmall, std::string(12, 'x'), "previous"));
    // Below four bytes the dots are cut too.
    EXPECT_EQ(copy(kEllipsis, "a long answer", 1), Result(kSmall, nul(1) + "xx", kTruncated));
    EXPECT_EQ(copy(kEllipsis, "a long answer", 3), Result(kSmall, ".." + nul(1) + "xx", kTruncated));
    EXPECT_EQ(copy(kTruncating, "abc", 1), Result(kSmall, nul(1) + "xx", kTruncated));
}

TEST(LastError, KeepsAtMost1023Bytes) {
    rag_handle h;
    set_last_error(&h, std::string(2000, 'e'));
    EXPECT_EQ(std::string(rag_last_error(&h)), std::string(1023, 'e'));
}

} // namespace
