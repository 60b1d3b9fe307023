// The three ways text results reach the host's buffer, at their boundaries.

#include <cstring>
#include <string>

#include "api/buffer_copy.h"
#include "api/rag_handle.h"
#include "test_support.h"

namespace {

const char *const kTruncated = "Response truncated \xE2\x80\x94 increase buf_size";

struct Handle {
    rag_handle h;
    Handle() { set_last_error(&h, "previous"); }
};

std::string bytes(const char *buf, size_t n) { return std::string(buf, n); }

TEST(BufferCopy, FittingTextIsNulPaddedToTheEnd) {
    Handle hh;
    for (int rule = 0; rule < 3; ++rule) {
        char buf[100];
        std::memset(buf, 'x', sizeof buf);
        int rc = rule == 0   ? copy_with_ellipsis(&hh.h, "hello", buf, 100)
                 : rule == 1 ? copy_truncating(&hh.h, "hello", buf, 100)
                             : copy_whole_or_nothing("hello", buf, 100);
        EXPECT_EQ(rc, RAG_OK);
        EXPECT_EQ(bytes(buf, 5), "hello");
        EXPECT_EQ(bytes(buf + 5, 95), std::string(95, '\0'));
    }
    EXPECT_STREQ(rag_last_error(&hh.h), "previous");
}

TEST(BufferCopy, ExactlyOneByteShortOfFittingFails) {
    Handle hh;
    const std::string text(9, 'a');  // needs 10 bytes with its NUL
    char buf[10];
    EXPECT_EQ(copy_with_ellipsis(&hh.h, text, buf, 10), RAG_OK);
    EXPECT_EQ(copy_truncating(&hh.h, text, buf, 10), RAG_OK);
    EXPECT_EQ(copy_whole_or_nothing(text, buf, 10), RAG_OK);
    EXPECT_STREQ(rag_last_error(&hh.h), "previous");

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(copy_whole_or_nothing(text + "a", buf, 10), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes(buf, 10), std::string(10, 'x'));
    EXPECT_STREQ(rag_last_error(&hh.h), "previous");
}

TEST(BufferCopy, EllipsisKeepsTheHeadAndMarksTheCut) {
    Handle hh;
    char buf[11];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(copy_with_ellipsis(&hh.h, "abcdefghijklmnopqrst", buf, 10), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes(buf, 11), std::string("abcdef...\0x", 11));
    EXPECT_STREQ(rag_last_error(&hh.h), kTruncated);
    EXPECT_EQ(std::strlen(kTruncated), 40u);
}

TEST(BufferCopy, EllipsisIntoTinyBuffersStaysInside) {
    Handle hh;
    const char *expected[] = {"", ".", ".."};
    for (int size = 1; size <= 3; ++size) {
        char buf[8];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(copy_with_ellipsis(&hh.h, "a long answer", buf, size), RAG_ERR_BUFFER_TOO_SMALL);
        EXPECT_STREQ(buf, expected[size - 1]);
        EXPECT_EQ(buf[size], 'x') << "wrote past a buffer of " << size;
        EXPECT_STREQ(rag_last_error(&hh.h), kTruncated);
    }
}

TEST(BufferCopy, TruncatingCutsWithoutEllipsis) {
    Handle hh;
    char buf[10];
    EXPECT_EQ(copy_truncating(&hh.h, "abcdefghijklmnopqrst", buf, 10), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes(buf, 10), std::string("abcdefghi\0", 10));
    EXPECT_STREQ(rag_last_error(&hh.h), kTruncated);

    char one[1] = {'x'};
    EXPECT_EQ(copy_truncating(&hh.h, "abc", one, 1), RAG_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(one[0], '\0');
}

TEST(LastError, KeepsAtMost1023BytesAndTheWholeText) {
    Handle hh;
    const std::string long_message(2000, 'e');
    set_last_error(&hh.h, long_message);
    EXPECT_EQ(std::string(rag_last_error(&hh.h)), long_message.substr(0, 1023));
    EXPECT_EQ(hh.h.last_error, long_message);
    set_last_error(&hh.h, hh.h.last_error);  // self-assignment keeps it
    EXPECT_EQ(hh.h.last_error, long_message);
}

} // namespace
