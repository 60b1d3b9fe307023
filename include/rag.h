/*
 * rag.h - local retrieval-augmented question answering.
 *
 * A handle owns one engine: an embedding model, a store of document chunks
 * (SQLite with full-text search plus an HNSW vector index) and a chat model
 * that is loaded on first use. Everything runs on the CPU, offline.
 *
 * Conventions shared by every function below:
 *  - Strings are NUL-terminated UTF-8; paths are passed through byte for byte.
 *  - Functions returning int return RAG_OK (0) or a negative RAG_ERR_* code,
 *    except where a function documents other non-negative results.
 *  - On failure a message is kept in the handle; read it with rag_last_error.
 *    Argument errors (RAG_ERR_INVALID_ARGUMENT) set no message. Success never
 *    clears the message.
 *  - Text results are copied into a caller buffer of buf_size bytes and are
 *    always NUL-terminated when the call writes the buffer.
 *  - Threads: indexing, removing, searching, listing and reading documents
 *    may run on several threads at once on one handle (calls on the same
 *    document run one after the other). The four answering calls run one at
 *    a time per handle: a call made while another answers waits for it.
 *    rag_start_watching and rag_stop_watching may come from any thread. No
 *    call may overlap rag_destroy. When calls fail on several threads at
 *    once, rag_last_error holds one of their messages.
 */
#ifndef RAG_H
#define RAG_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(RAG_BUILDING_LIBRARY)
#    define RAG_API __declspec(dllexport)
#  else
#    define RAG_API __declspec(dllimport)
#  endif
#else
#  define RAG_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. -2 and -3 are not assigned. */
#define RAG_OK                     0
#define RAG_ERR_INIT_FAILED       -1  /* rag_init failed */
#define RAG_ERR_SEARCH_FAILED     -4  /* an error during rag_search */
#define RAG_ERR_DOCUMENT_FAILED   -5  /* a document could not be indexed or read */
#define RAG_ERR_GENERATION_FAILED -6  /* an error while answering */
#define RAG_ERR_BUFFER_TOO_SMALL  -7  /* the text result does not fit with its NUL */
#define RAG_ERR_INVALID_ARGUMENT  -8  /* NULL argument or buffer size <= 0 */
#define RAG_ERR_NOT_INITIALIZED   -9  /* rag_init has not succeeded on this handle */

/* Opaque handle; one per engine. */
typedef struct rag_handle rag_handle;

/* One search result, as filled by rag_search. Strings are cut byte-wise and
 * padded with NUL bytes to the end of their arrays. */
typedef struct rag_search_result {
    char    file_path[512];  /* stored path form (see rag_get_indexed_files) */
    char    text[2048];      /* chunk text */
    float   score;           /* higher is better */
    int32_t chunk_id;        /* position of the chunk within its document */
    int32_t page_number;     /* always 0 */
} rag_search_result;

/* The record is shared with foreign-function hosts byte for byte. */
#ifdef __cplusplus
#  define RAG_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#  define RAG_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
RAG_STATIC_ASSERT(offsetof(rag_search_result, text) == 512, "rag_search_result.text offset");
RAG_STATIC_ASSERT(offsetof(rag_search_result, score) == 2560, "rag_search_result.score offset");
RAG_STATIC_ASSERT(offsetof(rag_search_result, chunk_id) == 2564, "rag_search_result.chunk_id offset");
RAG_STATIC_ASSERT(offsetof(rag_search_result, page_number) == 2568, "rag_search_result.page_number offset");
RAG_STATIC_ASSERT(sizeof(rag_search_result) == 2572, "rag_search_result size");

/* ---- lifecycle ---------------------------------------------------------- */

/* Creates a handle. The five strings must not be NULL (empty strings are
 * accepted, except that data_dir is created at once and must be creatable).
 * n_ctx <= 0 means 2048; n_threads <= 0 means 4, and any count is lowered to
 * the machine's number of logical processors. Relative model, index and data
 * paths (on Windows also "\dir" and "C:dir", which lack a drive or a root)
 * are taken against the working directory now; watch_dir stays as given, and
 * changes are reported under it. Loads nothing.
 * Returns NULL on any failure. */
RAG_API rag_handle *rag_create(const char *llm_model_path,
                               const char *embedding_model_path,
                               const char *index_path,
                               const char *watch_dir,
                               const char *data_dir,
                               int n_ctx,
                               int n_threads);

/* Loads the embedding model and opens the store. Returns RAG_OK (also when
 * already initialised) or RAG_ERR_INIT_FAILED; may be retried after failure. */
RAG_API int rag_init(rag_handle *h);

/* Shuts the engine down and frees the handle. NULL is ignored. */
RAG_API void rag_destroy(rag_handle *h);

/* The last failure message of h ("" if none; at most 1023 bytes), or
 * "null handle" for NULL. Valid until rag_destroy. */
RAG_API const char *rag_last_error(rag_handle *h);

/* The library version, "2.2". */
RAG_API const char *rag_version(void);

/* ---- documents ---------------------------------------------------------- */

/* Indexes a file unless it is indexed with the same modification time (within
 * 2 s). RAG_OK, RAG_ERR_DOCUMENT_FAILED (missing, empty or unusable file),
 * RAG_ERR_NOT_INITIALIZED or RAG_ERR_INVALID_ARGUMENT. A file that another
 * program holds locked is retried for up to about a minute, so call this off
 * the host's interface thread. */
RAG_API int rag_add_document(rag_handle *h, const char *path);

/* Indexes text the host extracted itself, under path (which need not exist).
 * Empty text removes the document's chunks and succeeds. */
RAG_API int rag_add_text_document(rag_handle *h, const char *path, const char *text);

/* Removes a document's chunks and bookkeeping. RAG_OK even if never indexed. */
RAG_API int rag_remove_document(rag_handle *h, const char *path);

/* 1 when the file exists and is indexed with its current modification time,
 * otherwise 0 (also on any error). RAG_ERR_INVALID_ARGUMENT for NULLs. */
RAG_API int rag_is_file_indexed(rag_handle *h, const char *path);

/* Writes every indexed path followed by "\n" into buf, whole or not at all
 * (RAG_ERR_BUFFER_TOO_SMALL leaves buf untouched). Paths are in their stored
 * form: as given, less one trailing separator; on Windows with every '/'
 * turned into '\\'. */
RAG_API int rag_get_indexed_files(rag_handle *h, char *buf, int buf_size);

/* Writes a document's stored text (its chunks joined by "\n"), whole or not
 * at all. "" for a path with no chunks. */
RAG_API int rag_get_document_text(rag_handle *h, const char *path, char *buf, int buf_size);

/* ---- retrieval and answering -------------------------------------------- */

/* Fills up to top_k records (top_k outside 1..10 means 3) with the best
 * chunks for query, best first. Returns the number filled, or a negative
 * code. The array must hold the effective top_k records. */
RAG_API int rag_search(rag_handle *h, const char *query, int top_k, rag_search_result *results);

/* Answers question from the indexed documents. Engine-side failures come back
 * as answers beginning with "[ERROR] " and RAG_OK. An answer that does not fit
 * is cut, ended with "..." and reported as RAG_ERR_BUFFER_TOO_SMALL. */
RAG_API int rag_generate(rag_handle *h, const char *question, char *buf, int buf_size);

/* Answers question from one source. A non-empty file_path is the source and
 * context_text is ignored: when it names an existing file or directory, the
 * answer comes from its stored chunks (one with none, an unindexed file for
 * instance, gets a fixed sentence); when nothing exists there, the path
 * string itself is read as raw text. With file_path NULL or empty,
 * context_text takes its place: a context_text that names an existing file or
 * directory is answered as that path, any other (even "") is read as raw
 * text, window by window.
 * RAG_ERR_INVALID_ARGUMENT when both are missing. Answers and truncation as
 * rag_generate. */
RAG_API int rag_generate_with_context(rag_handle *h, const char *question, const char *file_path,
                                      const char *context_text, char *buf, int buf_size);

/* Answers question within a chat, from the earlier conversation and the
 * supporting documents the host passes (either may be NULL, meaning "").
 * Answers and truncation as rag_generate. */
RAG_API int rag_generate_chat_with_context(rag_handle *h, const char *history, const char *question,
                                           const char *documents, char *buf, int buf_size);

/* Turns a chat question, read against history (may be NULL), into search
 * keywords. Engine-side failures come back as the keywords, beginning with
 * "[ERROR] ", with RAG_OK, as for rag_generate. A result that does not fit is
 * cut without "..." and reported as RAG_ERR_BUFFER_TOO_SMALL. On
 * RAG_ERR_GENERATION_FAILED buf holds the question, cut to fit. */
RAG_API int rag_rewrite_query(rag_handle *h, const char *history, const char *question, char *buf,
                              int buf_size);

/* ---- indexing state and watching --------------------------------------- */

/* The watcher's reports: *total counts every change reported since the handle
 * was initialised (a path reported twice counts twice); *done counts those
 * whose document the host has since indexed or removed with the calls above,
 * whatever their result. A change reported while such calls on its path run
 * counts as done when the last of them to end leaves the file indexed as it
 * was reported and as it is now, else it waits for the next call; one
 * reported later, of a file already indexed as it is, counts as done at once.
 * A change to a file that is gone again (deleted, or moved or renamed away,
 * before the host dealt with it) counts as done once the watcher sees it go,
 * or at once when the file was gone by the time it was reported. One that
 * went unseen, while watching was stopped or among changes the watcher lost
 * because too many came at once, counts as done once watching starts again
 * or has recovered from the loss. On Linux that includes the files of a
 * directory deleted or moved away; on Windows, where the watcher sees file
 * names only, files leave one by one, and those of a directory moved out of
 * the tree wait until watching starts again.
 * Paths naming one file match in either of the forms rag_create reads. May
 * run while another thread indexes; never waits on the file system or on
 * the watcher's thread. */
RAG_API int rag_get_indexing_progress(rag_handle *h, int *done, int *total);

/* A one-line status, whole or not at all: "" when nothing waits and nothing is
 * being indexed, else "Indexing: <file name>" or "Preparing...", followed by
 * " (done/total)" once the watcher reported anything. May run while another
 * thread indexes; never waits on the file system or on the watcher's thread. */
RAG_API int rag_get_indexing_status(rag_handle *h, char *buf, int buf_size);

/* Starts watching the watch_dir tree on a background thread of idle priority
 * (after a successful rag_init; otherwise, or while watching, nothing
 * happens). Supported files (.txt .md .rst .csv .log .pdf .docx .html .htm)
 * that are created, written or renamed into the tree are counted and queued,
 * each path at most once per 2 seconds; the host still indexes them itself.
 * On Linux that includes the files inside a directory moved into the tree; on
 * Windows, where the watcher sees file names only, it does not. Deletions and
 * moves away are not counted: they settle what was queued for the files gone
 * (see rag_get_indexing_progress), and a name written again right after it
 * went is reported again at once. A directory that cannot be opened, or a
 * failure to go on watching, ends watching (see the log); call again to retry. */
RAG_API void rag_start_watching(rag_handle *h);

/* Stops watching and waits for the thread (within about a second).
 * rag_destroy does this itself. */
RAG_API void rag_stop_watching(rag_handle *h);

#ifdef __cplusplus
}
#endif

#endif /* RAG_H */
