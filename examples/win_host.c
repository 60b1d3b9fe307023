/*
 * win_host - a Windows host as a foreign-function interface sees the library:
 * rag.dll loaded at run time with LoadLibraryW and its functions looked up by
 * name, then the demo's sequence: index the sample documents, search, answer.
 *
 *   win_host RAG.DLL CHAT.gguf EMBED.gguf DATA_DIR DOCS_DIR [question]
 *
 * Arguments are UTF-8. Exit status 0 only when every document was indexed,
 * the search found something and the answer came back whole.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "rag.h" /* for the result record and codes; no function is linked */

typedef const char *(*version_fn)(void);
typedef rag_handle *(*create_fn)(const char *, const char *, const char *, const char *,
                                 const char *, int, int);
typedef int (*init_fn)(rag_handle *);
typedef void (*destroy_fn)(rag_handle *);
typedef const char *(*last_error_fn)(rag_handle *);
typedef int (*add_document_fn)(rag_handle *, const char *);
typedef int (*search_fn)(rag_handle *, const char *, int, rag_search_result *);
typedef int (*generate_fn)(rag_handle *, const char *, char *, int);

static const char *const kSampleDocs[] = {
    "contrato-aluguel.txt",
    "relatorio-manutencao-utf16.txt",
    "notas-reuniao-latin1.txt",
};

static HMODULE lib;

/* The generic function type, which converts to each export's own type. */
typedef void (*any_fn)(void);

static any_fn need(const char *name) {
    FARPROC f = GetProcAddress(lib, name);
    if (!f) {
        fprintf(stderr, "rag.dll lacks %s\n", name);
        exit(1);
    }
    return (any_fn)f;
}

int main(int argc, char **argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: win_host RAG.DLL CHAT.gguf EMBED.gguf DATA_DIR DOCS_DIR [question]\n");
        return 2;
    }
    const char *docs = argv[5];
    const char *question = argc > 6 ? argv[6] : "Quando vence o contrato de aluguel?";

    wchar_t dll[MAX_PATH];
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argv[1], -1, dll, MAX_PATH)) {
        fprintf(stderr, "bad DLL path\n");
        return 2;
    }
    lib = LoadLibraryW(dll);
    if (!lib) {
        fprintf(stderr, "LoadLibraryW failed (error %lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    version_fn version = (version_fn)need("rag_version");
    create_fn create = (create_fn)need("rag_create");
    init_fn init = (init_fn)need("rag_init");
    destroy_fn destroy = (destroy_fn)need("rag_destroy");
    last_error_fn last_error = (last_error_fn)need("rag_last_error");
    add_document_fn add_document = (add_document_fn)need("rag_add_document");
    search_fn search = (search_fn)need("rag_search");
    generate_fn generate = (generate_fn)need("rag_generate");

    char index_path[1024];
    snprintf(index_path, sizeof index_path, "%s\\index.hnsw", argv[4]);
    printf("rag.dll %s\n", version());
    rag_handle *h = create(argv[2], argv[3], index_path, docs, argv[4], 0, 0);
    if (!h || init(h) != RAG_OK) {
        fprintf(stderr, "rag_init: %s\n", last_error(h));
        destroy(h);
        return 1;
    }

    int failures = 0;
    for (size_t i = 0; i < sizeof kSampleDocs / sizeof kSampleDocs[0]; ++i) {
        char path[1024];
        snprintf(path, sizeof path, "%s\\%s", docs, kSampleDocs[i]);
        const int rc = add_document(h, path);
        printf("index %-32s -> %d\n", kSampleDocs[i], rc);
        failures += rc != RAG_OK;
    }

    rag_search_result results[3];
    const int n = search(h, question, 3, results);
    for (int i = 0; i < n; ++i)
        printf("  %d. %.3f  %s #%d\n", i + 1, results[i].score, results[i].file_path, results[i].chunk_id);

    static char answer[16384];
    const int rc = generate(h, question, answer, (int)sizeof answer);
    printf("answer (%d): %s\n", rc, answer);

    destroy(h);
    FreeLibrary(lib);
    return failures == 0 && n > 0 && rc == RAG_OK ? 0 : 1;
}
