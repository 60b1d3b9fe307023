#pragma once

#include <string>
#include <string_view>

struct rag_handle;

// The three ways an export hands a text result to the host's buffer. Each
// requires buf != nullptr and buf_size >= 1 (checked by the export). When the
// text fits with its NUL, all of them copy it and NUL-fill the whole buffer,
// returning RAG_OK. Otherwise:

// Cuts the text, ends it with "..." (as much of it as fits before the final
// NUL), sets the truncation message and returns RAG_ERR_BUFFER_TOO_SMALL.
int copy_with_ellipsis(rag_handle *h, const std::string &text, char *buf, int buf_size);

// Cuts the text to buf_size-1 bytes, sets the truncation message and returns
// RAG_ERR_BUFFER_TOO_SMALL.
int copy_truncating(rag_handle *h, const std::string &text, char *buf, int buf_size);

// Writes nothing and returns RAG_ERR_BUFFER_TOO_SMALL, last error untouched.
int copy_whole_or_nothing(const std::string &text, char *buf, int buf_size);

// Copies at most buf_size-1 bytes of text and NUL-fills the rest; no status.
void copy_cut(std::string_view text, char *buf, int buf_size);
