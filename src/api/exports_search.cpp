#include <string>
#include <string_view>

#include "api/buffer_copy.h"
#include "api/export_guard.h"
#include "api/rag_handle.h"

namespace {

constexpr int kDefaultTopK = 3;
constexpr int kMaxTopK = 10;

// A record field holds the value up to its first NUL, cut to fit, NUL-padded.
template <size_t N>
void fill_field(char (&field)[N], const std::string &value) {
    copy_cut(std::string_view(value.c_str()), field, static_cast<int>(N));
}

} // namespace

extern "C" {

RAG_API int rag_search(rag_handle *h, const char *query, int top_k, rag_search_result *results) {
    if (!h || !query || !results) return RAG_ERR_INVALID_ARGUMENT;
    if (top_k < 1 || top_k > kMaxTopK) top_k = kDefaultTopK;
    if (!h->engine->is_initialized()) {
        set_last_error(h, kNotInitializedMessage);
        return RAG_ERR_NOT_INITIALIZED;
    }
    return run_guarded(h, RAG_ERR_SEARCH_FAILED, [&] {
        const std::vector<SearchResult> found = h->engine->search(query, top_k);
        for (size_t i = 0; i < found.size(); ++i) {
            rag_search_result &record = results[i];
            fill_field(record.file_path, found[i].file_path);
            fill_field(record.text, found[i].text);
            record.score = found[i].score;
            record.chunk_id = found[i].chunk_id;
            record.page_number = found[i].page_number;
        }
        return static_cast<int>(found.size());
    });
}

RAG_API int rag_generate(rag_handle *h, const char *question, char *buf, int buf_size) {
    if (const int rc = check_answer_call(h, question, buf, buf_size)) return rc;
    bool answered = false;
    const int rc = run_guarded(h, RAG_ERR_GENERATION_FAILED, [&] {
        const std::string answer = h->engine->generate(question);
        answered = true;
        return copy_with_ellipsis(h, answer, buf, buf_size);
    });
    if (!answered) copy_cut("[ERROR] Inference failed", buf, buf_size);
    return rc;
}

} // extern "C"
