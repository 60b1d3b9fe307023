#include "api/buffer_copy.h"

#include <algorithm>
#include <cstring>

#include "api/rag_handle.h"

namespace {

constexpr const char *kTruncatedMessage = "Response truncated \xE2\x80\x94 increase buf_size";

bool fits(const std::string &text, int buf_size) {
    return text.size() < static_cast<size_t>(buf_size);
}

} // namespace

void copy_cut(std::string_view text, char *buf, int buf_size) {
    const size_t cap = static_cast<size_t>(buf_size) - 1;
    const size_t n = std::min(text.size(), cap);
    std::memcpy(buf, text.data(), n);
    std::memset(buf + n, 0, static_cast<size_t>(buf_size) - n);
}

int copy_with_ellipsis(rag_handle *h, const std::string &text, char *buf, int buf_size) {
    if (fits(text, buf_size)) {
        copy_cut(text, buf, buf_size);
        return RAG_OK;
    }
    // Below 4 bytes there is no room for the whole "..."; write what fits.
    const size_t size = static_cast<size_t>(buf_size);
    const size_t keep = size >= 4 ? size - 4 : 0;
    std::memcpy(buf, text.data(), keep);
    const size_t dots = std::min<size_t>(3, size - 1 - keep);
    std::memset(buf + keep, '.', dots);
    buf[size - 1] = '\0';
    set_last_error(h, kTruncatedMessage);
    return RAG_ERR_BUFFER_TOO_SMALL;
}

int copy_truncating(rag_handle *h, const std::string &text, char *buf, int buf_size) {
    copy_cut(text, buf, buf_size);
    if (fits(text, buf_size)) return RAG_OK;
    set_last_error(h, kTruncatedMessage);
    return RAG_ERR_BUFFER_TOO_SMALL;
}

int copy_whole_or_nothing(const std::string &text, char *buf, int buf_size) {
    if (!fits(text, buf_size)) return RAG_ERR_BUFFER_TOO_SMALL;
    copy_cut(text, buf, buf_size);
    return RAG_OK;
}
