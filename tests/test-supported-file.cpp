// Which changed files the watcher reports, judged by extension alone.

#include <gtest/gtest.h>

#include "indexer/supported_file.h"

namespace {

TEST(SupportedFile, ExtensionOfTheLastElement) {
    for (const char *yes : {"a.txt", "a.md", "a.rst", "a.csv", "a.log", "a.pdf", "a.docx", "a.html",
                            "a.htm", "/d/A.TXT", "C:\\d\\b.Md", "x.HtMl", "notes.bak.txt", "C:b.txt",
                            "d.old/a.txt", "d\\e/f.pdf", "a.txt:stream", "a.txt:s.bak", "\\\\srv\\share\\a.log"})
        EXPECT_TRUE(is_supported_file(yes)) << yes;
    for (const char *no : {"", "a", "a.text", "a.doc", "a.xlsx", "a.json", "a.htmlx", "a.tx", "a.txt.bak",
                           ".txt", "/d/.md", "a.txt.", "a.", ".", "..", "/d/", "d.txt/", "d.txt\\x",
                           "ab:c.txt", "\\\\srv.txt", "a.t\xC3\xA9xt", "a.txt "})
        EXPECT_FALSE(is_supported_file(no)) << no;
}

} // namespace
