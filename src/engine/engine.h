#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/change_queue.h"
#include "engine/chat_model.h"
#include "engine/document_locks.h"
#include "engine/engine_config.h"
#include "engine/prompt.h"
#include "engine/search_result.h"
#include "indexer/indexer.h"
#include "store/vector_store.h"

struct llama_model;
struct llama_context;
typedef int32_t llama_token;

// How long a file that exists but cannot be read yet is waited for. Replaceable
// so tests need not wait for real.
struct ReadRetryPolicy {
    std::chrono::milliseconds delay{3000};
    int max_attempts = 20;  // about a minute in all
};

// The one object behind a handle: configuration, embedding model, the chunk
// store, the lazily loaded chat model and the indexing progress. Implemented
// by concern across engine_*.cpp.
class Engine {
public:
    // Copies the configuration, creates data_dir (and its parents), and keeps
    // it, the index path and the model paths as absolute paths (the watched
    // directory stays as given). Throws std::filesystem::filesystem_error when
    // data_dir cannot be made (std::system_error when it cannot be read at all).
    explicit Engine(const EngineConfig &config);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // ---- lifecycle (engine_lifecycle.cpp) ----

    // Loads the embedding model and opens the store. True when ready (at once
    // when already initialised); false after logging the failed step.
    bool init();
    // Releases everything init() built, saving unsaved index points first.
    void shutdown();
    bool is_initialized() const { return initialized; }
    const EngineConfig &configuration() const { return config; }
    VectorStore *vector_store() { return store.get(); }

    // ---- embedding (engine_embedding.cpp) ----

    // L2-normalised embedding_dim floats for text, or an empty vector.
    std::vector<float> embed(const std::string &text);

    // ---- reading files (engine_file_reading.cpp) ----

    // The file's text in UTF-8; "" for a missing or empty file; nullopt when
    // the file exists but could not be read (not a regular readable file, or
    // still unreadable after the retry policy gave up).
    std::optional<std::string> read_file_text(const std::string &path);
    // UTF-16 (by byte-order mark) to UTF-8; anything else through ensure_utf8.
    std::string decode_text(const std::vector<char> &bytes, const std::string &path);

    // ---- chunking (engine_chunking.cpp) ----

    // Overlapping windows of whole words (chunk_size/2 words, chunk_overlap/2 shared).
    std::vector<std::string> chunk_text(const std::string &text) const;

    // ---- documents (engine_documents.cpp) ----
    // Indexing and removal each settle the watcher's reports of path (see
    // DocumentCall).

    bool add_document(const std::string &path);
    bool add_text_document(const std::string &path, const std::string &text);
    void remove_document(const std::string &path);
    // Whether path is stored under its current modification time.
    bool is_file_indexed(const std::string &path);
    std::string get_document_text(const std::string &path);
    std::vector<std::string> get_indexed_files();

    // ---- retrieval and answering (engine_retrieval.cpp) ----

    std::vector<SearchResult> search(const std::string &question, int32_t top_k);
    std::string generate(const std::string &question);
    // The question prompt: fixed instructions, the chunks, the question.
    static Prompt build_prompt(const std::string &question, const std::vector<SearchResult> &results);

    // ---- answering modes (engine_document_answer.cpp, engine_window_answer.cpp, engine_chat.cpp) ----
    // generate and these three run one at a time per engine: an overlapping
    // call waits (they share the chat model and its context).

    // Answers from the stored chunks of the document source names when it
    // names any existing file-system object, else over source as raw text.
    std::string generate_with_context(const std::string &question, const std::string &source);
    // Answers within a chat from host-supplied history and documents.
    std::string generate_chat_with_context(const std::string &history, const std::string &question,
                                           const std::string &documents);
    // Search keywords for a chat question; the question itself when the model gives none.
    std::string rewrite_query(const std::string &history, const std::string &question);
    static Prompt build_document_prompt(const std::string &context, const std::string &question);
    static Prompt build_window_prompt(const std::string &window_text, const std::string &question);
    static Prompt build_chat_prompt(const std::string &history, const std::string &question,
                                    const std::string &documents);
    static Prompt build_rewrite_prompt(const std::string &history, const std::string &question);

    // ---- generation model (ChatModel, chat_model.h) ----

    bool load_llm() { return chat.load(); }
    void unload_llm() { chat.unload(); }
    bool is_llm_loaded() const { return chat.loaded(); }
    // Plain-text tokens: markers in the text stay text.
    std::vector<llama_token> tokenize(const std::string &text, bool add_special) {
        return chat.tokenize(text, add_special);
    }
    std::string detokenize(const std::vector<llama_token> &tokens) { return chat.detokenize(tokens); }
    // Generates the answer to a finished prompt; "[ERROR] ..." texts on failure.
    std::string run_llm(const Prompt &prompt, bool keep_loaded) { return chat.run(prompt, keep_loaded); }
    // Tokens of the last prompt whose decoding completed (what the memory holds).
    const std::vector<llama_token> &prompt_cache() const { return chat.prompt_cache(); }

    // ---- watching (engine_lifecycle.cpp) ----

    // Start and stop the directory watcher; nothing before init succeeded.
    // Calls from several threads are taken one at a time.
    void start_watching();
    void stop_watching();

    // ---- change queue and progress (engine_progress.cpp) ----
    // None waits on the file system or the store under the queue's lock.

    // The watcher's callback: queues path and counts it in the total; a change
    // the host has indexed already, or a file gone again, counts as done at
    // once instead.
    void enqueue_changed_file(const std::string &path);
    // The watcher's callback for a file or directory deleted or moved away,
    // and for the watched directory when files below it may have gone unseen:
    // queued reports of path, or of files below it, whose file is gone now
    // count as done.
    void settle_gone_file(const std::string &path);
    // Counters, each written only when its pointer is not null.
    void get_indexing_progress(int *done, int *total);
    // "" when nothing is queued and no file is being indexed; otherwise
    // "Indexing: <file name>" or "Preparing...", then " (done/total)" once
    // anything was reported.
    std::string get_indexing_status();

    ReadRetryPolicy read_retry;

private:
    // While it lives, one indexing or removal call on path for the watcher's
    // reports of it (engine_progress.cpp). Reports made before it began are
    // done when it ends; those made since, when the last call on path to end
    // leaves the index holding the file as they saw it and as it is now. The
    // time the index holds is kept, so that a later report of a change already
    // indexed counts as done at once. Paths match as the file system names
    // them, in the stored path form with repeated separators counting as one.
    class DocumentCall {
    public:
        DocumentCall(Engine &engine, const std::string &path) noexcept;
        ~DocumentCall();
        DocumentCall(const DocumentCall &) = delete;
        DocumentCall &operator=(const DocumentCall &) = delete;

    private:
        Engine &engine;
        const std::string &path;
        std::optional<ChangeQueue::Call> call;  // none when it could not be counted
    };

    bool init_steps();
    // Embeds again the stored chunks whose point a crash lost, and saves the
    // repaired index (engine_index_repair.cpp).
    void restore_lost_points();
    // Creates the index file's missing parent directories; false (logged) when it cannot.
    bool create_index_directory();
    // The two sources of generate_with_context: one indexed document, or raw text in windows.
    std::string answer_from_document(const std::string &question, const std::string &path);
    std::string answer_over_text(const std::string &question, const std::string &text);
    struct ChunkTally {
        int32_t handed = 0;  // chunks given an id and handed to the store
        int32_t stored = 0;  // of those, chunks the store accepted
    };
    // Embeds and stores the chunks in order, numbering them from 0; then, when
    // anything was stored, records the document and asks for an index save.
    ChunkTally store_chunks(const std::string &path, const std::filesystem::path &fspath,
                            std::optional<int64_t> mtime, const std::vector<std::string> &chunks,
                            bool log_failures);
    // Removes the document's chunks; the caller holds its document lock.
    void remove_stored_document(const std::string &path);
    // Records path as indexed when it names an existing file.
    void mark_indexed(const std::string &path, const std::filesystem::path &fspath,
                      std::optional<int64_t> mtime_before);

    EngineConfig config;
    bool initialized = false;
    ChatModel chat{config};
    std::unique_ptr<VectorStore> store;
    llama_model *embed_model = nullptr;
    llama_context *embed_ctx = nullptr;
    DocumentLocks document_locks;
    std::recursive_mutex embed_mutex;
    std::mutex answer_mutex;
    std::mutex watch_mutex;
    ChangeQueue changes;
    std::recursive_mutex progress_mutex;
    std::string current_file;               // file name being indexed by add_document, or ""
    // Last, so that its thread is gone before the queue it reports to.
    std::unique_ptr<Indexer> indexer;
};
