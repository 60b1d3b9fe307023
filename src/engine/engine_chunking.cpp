#include "engine/engine.h"

#include <algorithm>
#include <cstdint>

namespace {

// The six ASCII white-space bytes of the classic locale; nothing else
// (no-break space, zero bytes) separates words.
bool is_word_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string> split_words(const std::string &text) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && is_word_separator(text[i])) ++i;
        const size_t begin = i;
        while (i < n && !is_word_separator(text[i])) ++i;
        if (i > begin) words.emplace_back(text, begin, i - begin);
    }
    return words;
}

std::string join_words(const std::vector<std::string> &words, size_t begin, size_t end) {
    size_t length = end > begin ? end - begin - 1 : 0;
    for (size_t k = begin; k < end; ++k) length += words[k].size();
    std::string out;
    out.reserve(length);
    for (size_t k = begin; k < end; ++k) {
        if (k > begin) out += ' ';
        out += words[k];
    }
    return out;
}

} // namespace

// Windows of chunk_size/2 words sharing chunk_overlap/2 words with the next;
// an overlap not smaller than the window is dropped. Any text with a word
// yields at least one chunk.
std::vector<std::string> Engine::chunk_text(const std::string &text) const {
    std::vector<std::string> chunks;
    const std::vector<std::string> words = split_words(text);
    if (words.empty()) return chunks;
    const size_t n = words.size();

    const int64_t window = config.chunk_size / 2;
    const int64_t overlap = config.chunk_overlap / 2;
    if (window < 1) {
        chunks.push_back(join_words(words, 0, n));
        return chunks;
    }
    const int64_t step = window - overlap > 0 ? window - overlap : window;
    const auto w = static_cast<size_t>(window);
    const auto s = static_cast<size_t>(step);
    for (size_t start = 0; start < n; start += s) {
        const size_t stop = std::min(start + w, n);
        chunks.push_back(join_words(words, start, stop));
        if (stop == n) break;
    }
    return chunks;
}
